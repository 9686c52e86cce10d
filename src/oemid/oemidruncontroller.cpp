#include "oemidruncontroller.h"

#include "oemidtabsteps.h"
#include "oemidvariant.h"

#include "device/devicebatch.h"
#include "device/heldrows.h"

OemidRunController::OemidRunController(DeviceBatch &batch, ChangeIp changeIp, QObject *parent)
    : QObject(parent), m_batch(batch), m_changeIp(std::move(changeIp))
{
    connect(&m_batch, &DeviceBatch::finished, this, &OemidRunController::finished);
}

bool OemidRunController::start(const OemidRunOptions &options, const std::vector<int> &rows, QString *problem)
{
    problem->clear();
    if (options.setOemid) {
        *problem = OemidWriter::assignedOemidProblem(options.assignedOemid);
        if (!problem->isEmpty())
            return false;
    }
    OemidTabOptions steps;
    steps.setOemid = options.setOemid;
    steps.allowRepeat = options.allowRepeat;
    steps.modifyIp = options.modifyIp;
    const SettingsChoice choice = options.settings;

    OemidWriterParams writer;
    writer.assignedOemid = options.assignedOemid;
    writer.variant = OemidVariant::oemidTab();
    writer.appDir = options.dataDir;
    writer.message = options.message;

    BatchPlan plan;
    plan.rows = rows;
    // The one-second pause after the search, then the devices one at a time in table order.
    plan.options.startDelayMs = 1000;
    plan.options.spacingMs = 0;
    plan.options.maxParallel = 1;
    plan.job = [steps, choice, writer, changeIp = m_changeIp](BatchContext &ctx) {
        // The job holds its row's session until it ends, whatever happens to the table meanwhile.
        HeldRows held(ctx.rows(), ctx.row());
        const BoundRows bound(held, ctx.rows().generation());
        NetSdkOemid sdk;
        OemidWriter oemid(writer, sdk, bound);
        NetSdkSettings settingsSdk;
        // The settings' texts go under "Status", so that "Destribe" keeps the OEMID step's result.
        DeviceSettings settings(settingsSdk, bound, Field::Oemid);
        OemidTabSteps::Hooks hooks;
        if (changeIp)
            hooks.changeIp = [changeIp, bound](int row) {
                // The device is about to move: its session ends first.
                bound.takeSession(row).reset();
                return changeIp(bound.generation(), row);
            };
        if (choice.any())
            hooks.settings = [&settings, &choice](int row) { settings.apply(row, choice); };
        OemidTabSteps(steps, oemid, bound, hooks).run(ctx.row());
    };
    return m_batch.start(std::move(plan));
}
