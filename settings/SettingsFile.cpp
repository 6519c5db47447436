#include "SettingsFile.h"

#include "instrument/AlarmRows.h"
#include "instrument/FactoryRegisters.h"
#include "instrument/LineRegisters.h"
#include "instrument/ParameterMap.h"
#include "instrument/ParameterText.h"

#include <QStringList>

#include <algorithm>

namespace hx::config {

namespace {

constexpr int32_t kFirstCalibrationRegister = 24577;
constexpr int kCalibrationCount = 56;
const QString kMagic = QStringLiteral("hx5800-settings");

SettingsRole roleOf(const Parameter& p) {
    if (!isShown(p)) return SettingsRole::Reference;
    if (p.encoding == Encoding::Password) return SettingsRole::Password;
    if (kLineRegisters.holds(p.reg)) return SettingsRole::LineSetting;
    return SettingsRole::Setting;
}

std::vector<SettingsRegister> buildRegisters() {
    std::vector<SettingsRegister> all;
    for (const Parameter& p : kParameters) {
        const QString place = p.tab >= 0 ? qText(kTabs[size_t(p.tab)].caption).trimmed() : QString();
        all.push_back({p.reg, qText(p.label), place, roleOf(p)});
    }
    for (int k = 0; k < kAlarmRowCount; ++k)
        all.push_back({kFirstAlarmRegister + k, QString::fromUtf8(kAlarmRows[size_t(k)].caption),
                       QStringLiteral("报警设定"), SettingsRole::Setting});
    for (int item = 1; item <= kCalibrationCount; ++item)
        all.push_back({kFirstCalibrationRegister + item - 1, calibrationItemLabel(item),
                       QStringLiteral("出厂记录"), SettingsRole::Reference});
    return all;
}

// Why a file value cannot go to its register: a coded or counted value its list does not
// offer, or a channel mask with bits beyond the eighth channel. Boxes take any number (their
// hints are advice, as in the windows).
std::optional<QString> outsideItsList(int32_t reg, int32_t value) {
    const Parameter* p = parameterOfRegister(reg);
    if (!p || !isShown(*p) || !p->list) return std::nullopt;
    if (p->encoding == Encoding::ChannelMask) {
        if (value >= 0 && value <= 255) return std::nullopt;
    } else {
        const OptionList* list = optionList(p->list);
        if (std::any_of(list->items.begin(), list->items.end(),
                        [value](const Option& o) { return o.value == value; }))
            return std::nullopt;
    }
    return QStringLiteral("register %1 (%2): %3 is not in its list").arg(reg).arg(qText(p->label)).arg(value);
}

std::vector<Difference> differing(const RegisterValues& file, const RegisterValues& instrument,
                                  bool reference) {
    // In file order: the configuration before the alarm setpoints that depend on its modes.
    std::vector<Difference> out;
    for (const SettingsRegister& r : settingsRegisters()) {
        const auto inFile = file.find(r.reg);
        if (inFile == file.end() || (r.role == SettingsRole::Reference) != reference) continue;
        const auto found = instrument.find(r.reg);
        if (found == instrument.end() || found->second != inFile->second)
            out.push_back({r.reg, inFile->second, found == instrument.end() ? 0 : found->second});
    }
    return out;
}

} // namespace

const std::vector<SettingsRegister>& settingsRegisters() {
    static const std::vector<SettingsRegister> all = buildRegisters();
    return all;
}

const SettingsRegister* settingsRegister(int32_t reg) {
    for (const SettingsRegister& r : settingsRegisters()) {
        if (r.reg == reg) return &r;
    }
    return nullptr;
}

QString shownValue(int32_t reg, int32_t value) {
    const Parameter* p = parameterOfRegister(reg);
    if (!p || !p->list || optionList(p->list)->shownAsNumber) return {};
    return shownText(*p, value).value_or(QString());
}

QString settingsText(const SettingsFile& file) {
    QString text;
    text += QStringLiteral("%1\t%2\n").arg(kMagic).arg(file.format);
    text += QStringLiteral("saved\t%1\n").arg(file.saved);
    text += QStringLiteral("line\t%1\n").arg(file.line);
    text += QStringLiteral("# register\tvalue\tshown\tname\tplace\n");
    text += QStringLiteral(
        "# Calibration and unused registers are kept for reference: never compared or written.\n");
    QString section;
    for (const SettingsRegister& r : settingsRegisters()) {
        const auto found = file.values.find(r.reg);
        if (found == file.values.end()) continue;
        const QString group = r.reg >= kFirstCalibrationRegister ? QStringLiteral("calibration")
                              : r.reg >= kFirstRegister          ? QStringLiteral("configuration")
                                                                 : QStringLiteral("alarm setpoints");
        if (group != section) text += QStringLiteral("# %1\n").arg(section = group);
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                    .arg(r.reg)
                    .arg(found->second)
                    .arg(shownValue(r.reg, found->second),
                         r.name.isEmpty() ? QStringLiteral("(未用)") : r.name, r.place);
    }
    return text;
}

std::optional<SettingsFile> parseSettings(const QString& text, QString* error) {
    const auto fail = [error](int line, const QString& why) {
        if (error) *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return std::nullopt;
    };
    const QStringList lines = text.split(u'\n');
    SettingsFile file;
    bool sawMagic = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        const QString line = lines[i].endsWith(u'\r') ? lines[i].chopped(1) : lines[i];
        if (line.trimmed().isEmpty() || line.startsWith(u'#')) continue;
        const QStringList fields = line.split(u'\t');
        if (!sawMagic) {
            if (fields.size() < 2 || fields[0] != kMagic)
                return fail(number, QStringLiteral("not a settings file"));
            bool ok = false;
            file.format = fields[1].toInt(&ok);
            if (!ok || file.format != kSettingsFormat)
                return fail(number, QStringLiteral("format %1 is not one this program reads (%2)")
                                        .arg(fields[1])
                                        .arg(kSettingsFormat));
            sawMagic = true;
        } else if (fields[0] == QLatin1String("saved") || fields[0] == QLatin1String("line")) {
            (fields[0] == QLatin1String("saved") ? file.saved : file.line) = fields.mid(1).join(u'\t');
        } else {
            bool regOk = false, valueOk = false;
            const int32_t reg = fields[0].trimmed().toInt(&regOk);
            const int value = fields.size() > 1 ? fields[1].trimmed().toInt(&valueOk) : 0;
            if (!regOk || !valueOk) return fail(number, QStringLiteral("expected a register and its value"));
            if (!settingsRegister(reg))
                return fail(number,
                            QStringLiteral("register %1 is not one of the instrument's settings").arg(reg));
            // What a register read gives: 16 bits, sign-extended.
            if (value < -32768 || value > 32767)
                return fail(number, QStringLiteral("value %1 does not fit register %2").arg(value).arg(reg));
            if (!file.values.emplace(reg, value).second)
                return fail(number, QStringLiteral("register %1 appears twice").arg(reg));
        }
    }
    if (!sawMagic) return fail(1, QStringLiteral("not a settings file"));
    return file;
}

std::vector<Difference> differences(const RegisterValues& file, const RegisterValues& instrument) {
    return differing(file, instrument, false);
}

std::vector<Difference> referenceDifferences(const RegisterValues& file, const RegisterValues& instrument) {
    return differing(file, instrument, true);
}

RestorePlan planRestore(const RegisterValues& file, const RegisterValues& instrument,
                        const RestoreOptions& options) {
    RestorePlan plan;
    for (const auto& [reg, value] : file) {
        if (auto why = outsideItsList(reg, value)) plan.refusals.push_back(*why);
    }
    // The password after the other settings, the line settings last: each of those writes may
    // leave the line unable to reach the instrument as before.
    std::vector<Difference> password, line;
    for (const Difference& d : differences(file, instrument)) {
        switch (settingsRegister(d.reg)->role) {
        case SettingsRole::Setting:
            plan.writes.push_back(d);
            break;
        case SettingsRole::Password:
            (options.password ? password : plan.skipped).push_back(d);
            break;
        case SettingsRole::LineSetting:
            (options.lineSettings ? line : plan.skipped).push_back(d);
            break;
        case SettingsRole::Reference:
            break;
        }
    }
    plan.writes.insert(plan.writes.end(), password.begin(), password.end());
    plan.writes.insert(plan.writes.end(), line.begin(), line.end());
    return plan;
}

} // namespace hx::config
