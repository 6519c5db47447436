#pragma once
// An instrument's settings as a text file a person can read and diff, and what it takes to
// bring an instrument to them: which registers differ, which of them may be written and in
// which order. No device here: hx5800-config (settings_main.cpp) and SettingsTransfer do the
// talking.
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace hx::config {

constexpr int kSettingsFormat = 1;

// What a restore may do with a register.
enum class SettingsRole {
    Setting,     // written when it differs
    LineSetting, // address, baud rate, parity: cut the line; only on request, and last
    Password,    // only on request
    Reference,   // saved and shown, never compared or written (calibration, unused registers)
};

struct SettingsRegister {
    int32_t reg;
    QString name;  // the parameter's name; empty for an unused register
    QString place; // where the program shows it: configuration tab, alarm or factory window
    SettingsRole role;
};

// Every register a settings file holds, in file order: configuration 4097..4192, alarm
// 257..272, calibration 24577..24632.
const std::vector<SettingsRegister>& settingsRegisters();
const SettingsRegister* settingsRegister(int32_t reg);

// The text the configuration window shows for a list parameter's value; empty for anything
// else, and for a value its list does not hold.
QString shownValue(int32_t reg, int32_t value);

using RegisterValues = std::map<int32_t, int32_t>;

struct SettingsFile {
    int format = kSettingsFormat;
    QString saved; // when, ISO 8601
    QString line;  // where from: port, device, address, baud rate, parity
    RegisterValues values;
};

QString settingsText(const SettingsFile& file);
// nullopt with the reason (naming the line) for a text that is not a settings file of a
// format this program reads, a register twice or one outside the file's registers, or a value
// no register holds. A file may hold fewer registers than a saved one: the others are left
// as they are.
std::optional<SettingsFile> parseSettings(const QString& text, QString* error);

struct Difference {
    int32_t reg;
    int32_t file;
    int32_t instrument;
};

// The registers a restore looks after (not Reference) whose value in the file differs from
// the instrument's, in file order. A register the instrument values lack counts as
// differing only when the file has it.
std::vector<Difference> differences(const RegisterValues& file, const RegisterValues& instrument);
// The Reference registers that differ: shown for information, never written.
std::vector<Difference> referenceDifferences(const RegisterValues& file, const RegisterValues& instrument);

struct RestoreOptions {
    bool lineSettings = false;
    bool password = false;
};

struct RestorePlan {
    std::vector<Difference> writes;  // in the order they go out: settings, password, line settings
    std::vector<Difference> skipped; // differ, but need a flag
    std::vector<QString> refusals;   // file values outside their list: nothing may be written
};

RestorePlan planRestore(const RegisterValues& file, const RegisterValues& instrument,
                        const RestoreOptions& options);

} // namespace hx::config
