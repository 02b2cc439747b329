// The restore engine over a scripted controller: what it sends, how it reads back, and how it puts
// back what changed when a setting does not take, the user interrupts or the link fails.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "settings/RestoreEngine.h"

namespace vornic::settings {
namespace {

// A controller that takes the motor writes the engine sends, except those it is told to refuse.
class ScriptedLink final : public RestoreLink {
  public:
    explicit ScriptedLink(const MountSettings& held) : held_(held), read_(held) {}

    std::set<std::string> refuse;  // never take
    std::string takesOnce;         // takes the first write, refuses every later one
    int interruptAt = -1;          // this send is cut short by the user
    bool readBackFails = false;
    std::vector<std::string> sent;  // every send, in order

    LinkStep send(const OpCall& call) override {
        const std::string name = call.info->name;
        sent.push_back(name);
        if (static_cast<int>(sent.size()) - 1 == interruptAt) {
            interrupted_ = true;
            return {false, "interrupted"};
        }
        const bool refused = refuse.count(name) > 0 || (name == takesOnce && tookOnce_);
        tookOnce_ = tookOnce_ || name == takesOnce;
        if (!refused) {
            for (int a = 0; a < 2; ++a) {
                if (name == "setMaxSpeeds") {
                    held_.maxSpeed[a] = call.args[a];
                } else if (name == "setAccelerations") {
                    held_.acceleration[a] = static_cast<uint8_t>(call.args[a]);
                }
            }
        }
        return {};
    }
    LinkStep readBack() override {
        if (readBackFails) {
            return {false, "no answer"};
        }
        read_ = held_;
        return {};
    }
    const MountSettings& settings() const override { return read_; }
    bool interrupted() const override { return interrupted_; }
    void clearInterrupted() override { interrupted_ = false; }

    [[nodiscard]] const MountSettings& held() const { return held_; }

  private:
    MountSettings held_;
    MountSettings read_;
    bool interrupted_ = false;
    bool tookOnce_ = false;
};

MountSettings controllerAtStart() {
    MountSettings s;
    s.featureLevel = 6;
    s.maxSpeed[0] = 600;
    s.maxSpeed[1] = 800;
    s.acceleration[0] = 100;
    s.acceleration[1] = 80;
    s.guidingRate[0] = 8;
    s.guidingRate[1] = 8;
    return s;
}

// A file asking for other max speeds and accelerations.
SettingsImage wanted(bool changed) {
    SettingsImage image;
    image.values = controllerAtStart();
    if (changed) {
        image.values.maxSpeed[0] = 900;
        image.values.acceleration[1] = 120;
    }
    image.present[settingFieldIndex("maxSpeed")] = true;
    image.present[settingFieldIndex("acceleration")] = true;
    return image;
}

struct EngineCase {
    const char* name;
    bool changed;
    std::set<std::string> refuse;
    std::string takesOnce;
    int interruptAt;
    bool readBackFails;
    bool keepPartial;
    RestoreResult::End end;
    std::vector<std::string> sent;
    bool endsAsBefore;  // else as the file asks (or, when neither, left as it came out)
    size_t notTaken;
    size_t notPutBack;
};

using End = RestoreResult::End;

class RestoreEngineTest : public ::testing::TestWithParam<EngineCase> {};

TEST_P(RestoreEngineTest, SendsOnlyWhatDiffersAndPutsBackWhatDidNotTake) {
    const EngineCase& c = GetParam();
    ScriptedLink link(controllerAtStart());
    link.refuse = c.refuse;
    link.takesOnce = c.takesOnce;
    link.interruptAt = c.interruptAt;
    link.readBackFails = c.readBackFails;
    RestoreOptions options;
    options.keepPartial = c.keepPartial;
    options.whose = "the snapshot's settings";

    const RestoreResult result = restoreSettings(link, wanted(c.changed), options);

    EXPECT_EQ(result.end, c.end) << result.message;
    EXPECT_EQ(link.sent, c.sent);
    EXPECT_EQ(result.notTaken.size(), c.notTaken);
    EXPECT_EQ(result.notPutBack.size(), c.notPutBack);
    EXPECT_EQ(result.ok(), c.end == End::Verified || c.end == End::NothingToDo);
    EXPECT_EQ(result.message.empty(), result.ok()) << "a failure always says what happened";
    if (c.readBackFails) {
        EXPECT_NE(result.message.find("the snapshot's settings"), std::string::npos)
            << result.message;
    }
    const SettingsImage before = wholeImage(controllerAtStart());
    if (c.endsAsBefore) {
        EXPECT_TRUE(differences(before, link.held()).empty());
    } else if (c.end == End::Verified) {
        EXPECT_TRUE(differences(wanted(true), link.held()).empty());
    }
}

const std::vector<std::string> kBoth = {"setMaxSpeeds", "setAccelerations"};
// Both sent, then the speed put back.
const std::vector<std::string> kBothThenBack = {"setMaxSpeeds", "setAccelerations", "setMaxSpeeds"};
const std::set<std::string> kAcc = {"setAccelerations"};
const std::set<std::string> kAll = {"setMaxSpeeds", "setAccelerations"};

// One row a case, its columns as in EngineCase.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreEngineTest,
    ::testing::Values(
        // name, changed, refuse, takesOnce, interruptAt,
        //   readBackFails, keepPartial, end, sent, endsAsBefore, notTaken, notPutBack
        EngineCase{"AllTake",                            true,  {},   "",             -1,
                   false, false, End::Verified,       kBoth,         false, 0, 0},
        EngineCase{"NothingDiffers",                     false, {},   "",             -1,
                   false, false, End::NothingToDo,    {},            true,  0, 0},
        EngineCase{"RefusedSettingPutsBackTheOthers",    true,  kAcc, "",             -1,
                   false, false, End::PutBack,        kBothThenBack, true,  1, 0},
        EngineCase{"RefusedSettingKeptPartialOnRequest", true,  kAcc, "",             -1,
                   false, true,  End::KeptPartial,    kBoth,         false, 1, 0},
        EngineCase{"NothingChangedNothingPutBack",       true,  kAll, "",             -1,
                   false, false, End::PutBack,        kBoth,         true,  2, 0},
        EngineCase{"InterruptPutsBackWhatWasSent",       true,  {},   "",             1,
                   false, false, End::PutBack,        kBothThenBack, true,  0, 0},
        EngineCase{"SettingThatSticksIsNamed",           true,  kAcc, "setMaxSpeeds", -1,
                   false, false, End::NotAllPutBack,  kBothThenBack, false, 1, 1},
        EngineCase{"ReadBackFailsSaysSo",                true,  {},   "",             -1,
                   true,  false, End::ReadBackFailed, kBoth,         false, 0, 0}),
    [](const ::testing::TestParamInfo<EngineCase>& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
}  // namespace vornic::settings
