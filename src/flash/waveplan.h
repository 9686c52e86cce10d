#pragma once

#include <QString>

#include <vector>

/// How a staged run splits its devices and when it stops: a first wave, a rule for the size of each
/// following wave, and the number of failures in one wave at which the run halts. Read from the
/// [Waves] keys of Config.ini (or a command line); plain values, no widgets.
struct WaveSettings {
    /// A count of devices, or a share of them in percent.
    struct Amount {
        bool percent = false;
        double value = 1;
    };
    /// How the next wave's size follows from the last one: times `factor`, or plus `step` devices.
    struct Growth {
        bool add = false;
        double factor = 2;
        int step = 0;
    };

    Amount first{false, 1}; ///< of the devices the run takes
    Growth growth;          ///< doubling unless told otherwise
    /// Failed devices of one wave at which the run halts (a percentage: of that wave's size); the
    /// default, one device, halts on any failure.
    Amount halt{false, 1};

    /// Reads the three texts ("First", "Growth", "Halt"); an empty text keeps the default. Formats:
    /// First and Halt "N" (devices) or "N%" (N above 0, at most 100); Growth "xF" or "F" (times F, F at
    /// least 1) or "+N" (N devices more each wave, N at least 1). False with `problem` naming the key
    /// and the value when a text does not read; the settings are then unchanged.
    bool parse(const QString &firstText, const QString &growthText, const QString &haltText,
               QString *problem);

    /// The [Waves] keys of Config.ini, read now; false with `problem` when one does not read.
    static bool fromConfig(WaveSettings *settings, QString *problem);
    /// Whether runs go in waves ([Waves] Enabled).
    static bool enabledInConfig();

    /// The texts parse() reads, for Config.ini and the README.
    static QString text(const Amount &amount);
    static QString text(const Growth &growth);
};

namespace WavePlan
{
/// The wave sizes for `devices` devices, in order: they add up to `devices` and each is at least 1
/// (empty for no devices). A first wave larger than the run takes all of it; a wave never shrinks.
std::vector<int> sizes(int devices, const WaveSettings &settings);
/// Splits `items` (in table order) into waves of sizes(...).
template <typename T>
std::vector<std::vector<T>> split(const std::vector<T> &items, const WaveSettings &settings)
{
    std::vector<std::vector<T>> waves;
    size_t next = 0;
    for (int size : sizes(int(items.size()), settings)) {
        waves.emplace_back(items.begin() + std::ptrdiff_t(next),
                           items.begin() + std::ptrdiff_t(next + size_t(size)));
        next += size_t(size);
    }
    return waves;
}
/// The number of failed devices at which a wave of `waveSize` halts the run (at least 1).
int haltAt(int waveSize, const WaveSettings &settings);
/// True when `failed` devices of a wave of `waveSize` halt the run: the failures reached the
/// threshold. Below it the run goes on.
bool halts(int waveSize, int failed, const WaveSettings &settings);
} // namespace WavePlan
