#include "logging/RecordSource.h"

#include "core/FreshValues.h"
#include "core/SharedState.h"

namespace hx {

namespace {

class SharedRecordSource final : public RecordSource {
  public:
    bool allFresh() const override { return freshValues().allSinceTaken(); }
    std::array<float, 10> take() override {
        std::array<float, 10> values{};
        for (int i = 0; i < int(values.size()); ++i)
            values[i] = Pv_Value[i];
        freshValues().take();
        return values;
    }
    ClockReading lastRecord() const override { return {Last_Date, Last_Time}; }
    void setLastRecord(const ClockReading& at) override {
        Last_Time = at.time;
        Last_Date = at.date;
    }
    // The live trend advances once a second while the main window is open.
    void recordDecided() override {
        if (Main_Open != kFalse) New_Record = kTrue;
    }
};

} // namespace

RecordSource& sharedRecordSource() {
    static SharedRecordSource source;
    return source;
}

} // namespace hx
