#include "flash/waveplan.h"

#include "app/configkeys.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace
{

// Shares are decimal texts: 10 % of 30 devices is exactly 3, not 3.0000000004 rounded up to 4.
constexpr double Slack = 1e-9;

int ceilOf(double value)
{
    return int(std::ceil(value - Slack));
}

bool parseAmount(const QString &text, WaveSettings::Amount *out)
{
    QString t = text.trimmed();
    WaveSettings::Amount amount;
    amount.percent = t.endsWith(QLatin1Char('%'));
    if (amount.percent)
        t.chop(1);
    bool ok = false;
    if (amount.percent) {
        amount.value = t.trimmed().toDouble(&ok);
        ok = ok && amount.value > 0 && amount.value <= 100;
    } else {
        const int count = t.toInt(&ok);
        ok = ok && count >= 1;
        amount.value = count;
    }
    if (ok)
        *out = amount;
    return ok;
}

bool parseGrowth(const QString &text, WaveSettings::Growth *out)
{
    QString t = text.trimmed();
    WaveSettings::Growth growth;
    bool ok = false;
    if (t.startsWith(QLatin1Char('+'))) {
        growth.add = true;
        growth.step = t.mid(1).trimmed().toInt(&ok);
        ok = ok && growth.step >= 1;
    } else {
        if (t.startsWith(QLatin1Char('x'), Qt::CaseInsensitive) || t.startsWith(QLatin1Char('*')))
            t = t.mid(1).trimmed();
        growth.factor = t.toDouble(&ok);
        // Below 1 the waves would shrink towards nothing; NaN and infinity are not sizes.
        ok = ok && std::isfinite(growth.factor) && growth.factor >= 1;
    }
    if (ok)
        *out = growth;
    return ok;
}

QString problemText(const char *key, const QString &value)
{
    return QCoreApplication::translate("WavePlan",
                                       "Config.ini [Waves] %1=%2 cannot be read; see the README for "
                                       "its format.")
        .arg(QLatin1String(key), value);
}

} // namespace

bool WaveSettings::parse(const QString &firstText, const QString &growthText, const QString &haltText,
                         QString *problem)
{
    WaveSettings read = *this;
    const char *bad = nullptr;
    QString badValue;
    if (!firstText.trimmed().isEmpty() && !parseAmount(firstText, &read.first)) {
        bad = "First";
        badValue = firstText;
    } else if (!growthText.trimmed().isEmpty() && !parseGrowth(growthText, &read.growth)) {
        bad = "Growth";
        badValue = growthText;
    } else if (!haltText.trimmed().isEmpty() && !parseAmount(haltText, &read.halt)) {
        bad = "Halt";
        badValue = haltText;
    }
    if (bad) {
        if (problem)
            *problem = problemText(bad, badValue);
        return false;
    }
    *this = read;
    return true;
}

bool WaveSettings::fromConfig(WaveSettings *settings, QString *problem)
{
    WaveSettings read;
    if (!read.parse(ConfigKeys::stringValue(Key::WavesFirst), ConfigKeys::stringValue(Key::WavesGrowth),
                    ConfigKeys::stringValue(Key::WavesHalt), problem))
        return false;
    *settings = read;
    return true;
}

bool WaveSettings::enabledInConfig()
{
    return ConfigKeys::isOn(Key::WavesEnabled);
}

QString WaveSettings::text(const Amount &amount)
{
    return amount.percent ? QString::number(amount.value) + QLatin1Char('%')
                          : QString::number(int(amount.value));
}

QString WaveSettings::text(const Growth &growth)
{
    return growth.add ? QLatin1Char('+') + QString::number(growth.step)
                      : QLatin1Char('x') + QString::number(growth.factor);
}

namespace WavePlan
{

std::vector<int> sizes(int devices, const WaveSettings &settings)
{
    std::vector<int> waves;
    if (devices <= 0)
        return waves;
    const WaveSettings::Amount &first = settings.first;
    int size = first.percent ? ceilOf(devices * first.value / 100.0) : int(first.value);
    int left = devices;
    while (left > 0) {
        size = std::clamp(size, 1, left);
        waves.push_back(size);
        left -= size;
        const WaveSettings::Growth &growth = settings.growth;
        const double next = growth.add ? double(size) + growth.step : double(size) * growth.factor;
        // A growth that rounds to the same size keeps it; a wave never shrinks. Bounded by the
        // devices left, so a huge factor cannot overflow.
        size =
            int(std::min<double>(std::max<double>(ceilOf(std::min<double>(next, left + 1.0)), size), left));
    }
    return waves;
}

int haltAt(int waveSize, const WaveSettings &settings)
{
    const WaveSettings::Amount &halt = settings.halt;
    const int at = halt.percent ? ceilOf(waveSize * halt.value / 100.0) : int(halt.value);
    return std::max(1, at);
}

bool halts(int waveSize, int failed, const WaveSettings &settings)
{
    return failed > 0 && failed >= haltAt(waveSize, settings);
}

} // namespace WavePlan
