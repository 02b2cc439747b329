// The simulated controller byte for byte: reply layouts, writes, store and reload, the request
// reassembler and motion. Offsets are written out here from the reply layouts, not taken from the
// simulator.
#include <gtest/gtest.h>

#include <random>

#include "SimTestUtil.h"
#include "sim/Kz2Device.h"

namespace vornic::sim {
namespace {

using test::add16;
using test::add32;
using test::ask;
using test::Bytes;
using test::deviceAtLevel;
using test::payload16;
using test::payload32;
using test::payload8;
using test::Recorder;

const Bytes kIdentity = {0xAA, 0x01, 0x01};
const Bytes kFirmware = {0xAA, 0x01, 0x02};
const Bytes kPortType = {0xAA, 0x01, 0x03};
const Bytes kAxisBlock = {0xAA, 0x01, 0x14};
const Bytes kSettings = {0xAA, 0x01, 0x15};
const Bytes kMeridian = {0xAA, 0x01, 0x3D};
const Bytes kSite = {0xAA, 0x01, 0x64};
const Bytes kVoltage = {0xAA, 0x03, 0x2B, 0x00, 0x00};
const Bytes kStore = {0xAA, 0x02, 0x0D, 0x01};
const Bytes kReload = {0xAA, 0x02, 0x0C, 0x01};

Bytes ackOf(uint8_t code) {
    return {0x55, 0x01, code};
}

TEST(Kz2DeviceIdentity, AnswersEachLevelWithItsIdentityAndFirmware) {
    // Firmware words that give levels 1..6 on hardware type 1.
    const uint32_t firmware[] = {0x01000000, 0x01000001, 0x01000002,
                                 0x01000004, 0x01000009, 0x0100000A};
    for (int level = 1; level <= 6; ++level) {
        SCOPED_TRACE(level);
        Kz2Device d = deviceAtLevel(level);
        EXPECT_EQ(d.level(), level);
        const Bytes id = ask(d, kIdentity);
        ASSERT_EQ(id.size(), 7u);
        EXPECT_EQ(id[0], 0x55);
        EXPECT_EQ(id[1], 5);
        EXPECT_EQ(payload8(id, 0), 0x01);
        EXPECT_EQ(payload32(id, 1) >> 16, 1u);  // hardware type
        const Bytes fw = ask(d, kFirmware);
        ASSERT_EQ(fw.size(), 7u);
        EXPECT_EQ(fw[1], 5);
        EXPECT_EQ(payload32(fw, 1), firmware[level - 1]);
        EXPECT_EQ(ask(d, kPortType), (Bytes{0x55, 0x02, 0x03, 0x01}));
    }
    Kz2Device old = deviceAtLevel(0);
    EXPECT_EQ(old.level(), 0);
    EXPECT_EQ(ask(old, kIdentity), (Bytes{0x55, 0x03, 0x01, 0x01, 0x01}));

    DeviceIdentity id;
    id.oldForm = true;
    id.oldLow = 2;
    id.oldHigh = 5;
    Kz2Device twoByte(id, factoryImage(), factoryImage());
    EXPECT_EQ(ask(twoByte, kIdentity), (Bytes{0x55, 0x03, 0x01, 0x02, 0x05}));
    EXPECT_EQ(twoByte.level(), 1);
}

TEST(Kz2DeviceIdentity, FirmwareLevelFollowsHardwareTypeAndVersion) {
    const auto level = [](uint32_t type, uint32_t fw) {
        DeviceIdentity id;
        id.hardwareVersion = type << 16 | 0x0203;
        id.firmwareVersion = fw;
        return firmwareLevel(id);
    };
    EXPECT_EQ(level(1, 0x00000005), 1);
    EXPECT_EQ(level(1, 0x01000003), 3);
    EXPECT_EQ(level(1, 0x01000005), 4);
    EXPECT_EQ(level(1, 0x01000008), 4);
    EXPECT_EQ(level(1, 0x7FFFFFFF), 6);
    EXPECT_EQ(level(3, 0), 4);
    EXPECT_EQ(level(4, 0xFFFFFFFF), 4);
    EXPECT_EQ(level(5, 0x01000004), 4);
    EXPECT_EQ(level(5, 0x01000005), 6);
    EXPECT_EQ(level(2, 0x0100000A), 1);

    DeviceIdentity old;
    old.oldForm = true;
    old.oldLow = 0;
    old.oldHigh = 9;
    EXPECT_EQ(firmwareLevel(old), 0);
    old.oldLow = 1;
    old.oldHigh = 2;
    EXPECT_EQ(firmwareLevel(old), 1);
    EXPECT_FALSE(identityForLevel(7, old));
    EXPECT_FALSE(identityForLevel(-1, old));
}

// An image in which every field has its own value, so that a field at a wrong offset shows.
ConfigImage distinctImage() {
    ConfigImage c;
    for (int a = 0; a < 2; ++a) {
        AxisImage& x = c.axis[a];
        const auto k = static_cast<uint32_t>(a * 100);
        x.axisBlockReserved = static_cast<uint8_t>(0x11 + k);
        x.gearRatio = 0x01020304 + k;
        x.countsPerRevolution = 0x05060708 + k;
        x.siderealRate = static_cast<int32_t>(0x090A0B0C + k);
        x.maxSpeed = static_cast<uint16_t>(0x0D0E + k);
        x.guidingRate = static_cast<uint8_t>(0x0F + k);
        x.maxCurrent = static_cast<uint16_t>(0x1011 + k);
        x.motorCurrent = {static_cast<uint16_t>(0x1213 + k), static_cast<uint16_t>(0x1415 + k),
                          static_cast<uint16_t>(0x1617 + k)};
        x.decay = {static_cast<uint8_t>(0x18 + k), static_cast<uint8_t>(0x19 + k),
                   static_cast<uint8_t>(0x1A + k)};
        x.thirdOvertone = static_cast<int8_t>(-20 - a);
        x.overtoneReserved = static_cast<uint8_t>(0x1B + k);
        x.acceleration = static_cast<uint8_t>(0x1C + k);
        x.deceleration = static_cast<uint8_t>(0x1D + k);
        x.incCurrentAt = static_cast<uint16_t>(0x1E1F + k);
        x.incCurrentReserved = static_cast<uint16_t>(0x2021 + k);
        x.settingsReservedByte = static_cast<uint8_t>(0x22 + k);
        x.settingsReservedWord = 0x23242526 + k;
    }
    c.mountType = 2;
    c.reverseRotation = 0x02;
    c.reverseAutoguiding = 0x01;
    c.reverseLimitSwitches = 0x03;
    c.meridianFlipParamA = 0x31;
    c.meridianFlipParamB = 0x32;
    c.meridianFlipHysteresis = 0x33;
    c.latitude = -1234567;
    c.longitude = 7654321;
    return c;
}

TEST(Kz2DeviceReadBack, AxisBlockFieldsSitAtTheirOffsets) {
    DeviceIdentity id;
    Kz2Device d(id, factoryImage(), distinctImage());
    const Bytes r = ask(d, kAxisBlock);
    ASSERT_EQ(r.size(), 31u);
    EXPECT_EQ(r[0], 0x55);
    EXPECT_EQ(r[1], 29);
    EXPECT_EQ(payload8(r, 2), 0x11);
    EXPECT_EQ(payload32(r, 3), 0x01020304u);
    EXPECT_EQ(payload32(r, 7), 0x05060708u);
    EXPECT_EQ(payload32(r, 11), 0x090A0B0Cu);
    EXPECT_EQ(payload8(r, 15), 0x11 + 100);
    EXPECT_EQ(payload32(r, 16), 0x01020304u + 100);
    EXPECT_EQ(payload32(r, 20), 0x05060708u + 100);
    EXPECT_EQ(payload32(r, 24), 0x090A0B0Cu + 100);
    EXPECT_EQ(payload8(r, 28), 2);
}

TEST(Kz2DeviceReadBack, SettingsBlockFieldsSitAtTheirOffsets) {
    DeviceIdentity id;
    Kz2Device d(id, factoryImage(), distinctImage());
    const Bytes r = ask(d, kSettings);
    ASSERT_EQ(r.size(), 60u);
    EXPECT_EQ(r[1], 58);
    EXPECT_EQ(payload8(r, 2), 0x02);
    EXPECT_EQ(payload8(r, 3), 0x31);  // autoguiding low nibble, limit switches high nibble
    for (int a = 0; a < 2; ++a) {
        SCOPED_TRACE(a);
        const size_t o = 27 * static_cast<size_t>(a);
        const uint32_t k = 100 * static_cast<uint32_t>(a);
        EXPECT_EQ(payload16(r, 4 + o), 0x0D0E + k);
        EXPECT_EQ(payload8(r, 6 + o), 0x0F + k);
        EXPECT_EQ(payload16(r, 7 + o), 0x1011 + k);
        EXPECT_EQ(payload16(r, 9 + o), 0x1213 + k);
        EXPECT_EQ(payload16(r, 11 + o), 0x1415 + k);
        EXPECT_EQ(payload16(r, 13 + o), 0x1617 + k);
        EXPECT_EQ(payload8(r, 15 + o), 0x18 + k);
        EXPECT_EQ(payload8(r, 16 + o), 0x19 + k);
        EXPECT_EQ(payload8(r, 17 + o), 0x1A + k);
        EXPECT_EQ(static_cast<int8_t>(payload8(r, 18 + o)), -20 - a);
        EXPECT_EQ(payload8(r, 19 + o), 0x1B + k);
        EXPECT_EQ(payload8(r, 20 + o), 0x1C + k);
        EXPECT_EQ(payload8(r, 21 + o), 0x1D + k);
        EXPECT_EQ(payload16(r, 22 + o), 0x1E1F + k);
        EXPECT_EQ(payload16(r, 24 + o), 0x2021 + k);
        EXPECT_EQ(payload8(r, 26 + o), 0x22 + k);
        EXPECT_EQ(payload32(r, 27 + o), 0x23242526 + k);
    }
}

TEST(Kz2DeviceReadBack, MeridianSiteAndVoltageReplies) {
    DeviceIdentity id;
    Kz2Device d(id, factoryImage(), distinctImage());
    const Bytes m = ask(d, kMeridian);
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(payload8(m, 0), 0x3D);
    EXPECT_EQ(payload8(m, 2), 0x31);
    EXPECT_EQ(payload8(m, 3), 0x32);
    EXPECT_EQ(payload8(m, 4), 0x33);
    const Bytes s = ask(d, kSite);
    ASSERT_EQ(s.size(), 11u);
    EXPECT_EQ(static_cast<int32_t>(payload32(s, 1)), -1234567);
    EXPECT_EQ(static_cast<int32_t>(payload32(s, 5)), 7654321);
    d.setSupplyVoltage(1187);
    const Bytes v = ask(d, kVoltage);
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(payload16(v, 3), 1187);
}

TEST(Kz2DeviceReadBack, FactorySettingsAreThoseOfAWorkingMount) {
    Kz2Device d = deviceAtLevel(6);
    const Bytes a = ask(d, kAxisBlock);
    const Bytes s = ask(d, kSettings);
    for (size_t o : {size_t{0}, size_t{13}}) {
        EXPECT_EQ(payload32(a, 3 + o), 172800u);
        EXPECT_EQ(payload32(a, 7 + o) % 4, 0u);
        EXPECT_GT(payload32(a, 7 + o), 0u);
        EXPECT_EQ(payload32(a, 11 + o), 1000u);
    }
    for (size_t o : {size_t{0}, size_t{27}}) {
        EXPECT_EQ(payload16(s, 4 + o), 800);
        EXPECT_EQ(payload16(s, 7 + o), 1500);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_LE(payload16(s, 9 + o + 2 * i), 1500);
            EXPECT_LE(payload8(s, 15 + o + i), 3);
        }
    }
    EXPECT_NE(payload32(ask(d, kSite), 1), 0u);
}

TEST(Kz2DeviceWrites, EachWriteIsAcknowledgedAndShowsInTheNextRead) {
    Kz2Device d = deviceAtLevel(6);

    Bytes gear = {0xAA, 0x0B, 0x1A, 0x01, 0xC0, 0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00};
    EXPECT_EQ(ask(d, gear), ackOf(0x1A));
    Bytes a = ask(d, kAxisBlock);
    EXPECT_EQ(payload32(a, 3), 172800u);
    EXPECT_EQ(payload32(a, 16), 164000u);
    EXPECT_EQ(payload32(a, 20), 164000u * 8);  // counts follow the gearing
    EXPECT_EQ(payload32(a, 24), 949u);         // and so does the sidereal speed value

    EXPECT_EQ(ask(d, {0xAA, 0x06, 0x32, 0x00, 0xC0, 0x01, 0x02, 0x03}), ackOf(0x32));
    Bytes s = ask(d, kSettings);
    EXPECT_EQ(payload8(s, 2), 0x01);
    EXPECT_EQ(payload8(s, 3), 0x32);

    Bytes current = {0xAA, 0x05, 0x33, 0x00, 0x81};  // RA, track
    add16(current, 700);
    EXPECT_EQ(ask(d, current), ackOf(0x33));
    Bytes tooMuch = {0xAA, 0x05, 0x33, 0x00, 0x42};  // DE, run, above the maximum
    add16(tooMuch, 2000);
    EXPECT_EQ(ask(d, tooMuch), ackOf(0x33));
    EXPECT_EQ(ask(d, {0xAA, 0x04, 0x34, 0x00, 0xC0, 0x03}), ackOf(0x34));  // both, idle decay
    EXPECT_EQ(ask(d, {0xAA, 0x04, 0x34, 0x00, 0x41, 0x07}), ackOf(0x34));  // invalid: kept
    EXPECT_EQ(ask(d, {0xAA, 0x04, 0x3B, 0x00, 0x80, 0xEC}), ackOf(0x3B));  // RA overtone -20
    Bytes boost = {0xAA, 0x07, 0x3C, 0x00, 0x40};
    add16(boost, 200);
    add16(boost, 210);
    EXPECT_EQ(ask(d, boost), ackOf(0x3C));
    Bytes speeds = {0xAA, 0x07, 0x35, 0x00, 0xC0};
    add16(speeds, 600);
    add16(speeds, 700);
    EXPECT_EQ(ask(d, speeds), ackOf(0x35));
    EXPECT_EQ(ask(d, {0xAA, 0x05, 0x37, 0x00, 0xC0, 0x10, 0x20}), ackOf(0x37));
    EXPECT_EQ(ask(d, {0xAA, 0x05, 0x38, 0x00, 0xC0, 0x30, 0x40}), ackOf(0x38));
    EXPECT_EQ(ask(d, {0xAA, 0x05, 0x36, 0x00, 0x80, 0x0C, 0x0D}), ackOf(0x36));  // RA only

    s = ask(d, kSettings);
    EXPECT_EQ(payload16(s, 11), 700);        // RA track current
    EXPECT_EQ(payload16(s, 13 + 27), 1500);  // DE run current, held at the maximum
    EXPECT_EQ(payload8(s, 15), 3);
    EXPECT_EQ(payload8(s, 15 + 27), 3);
    EXPECT_EQ(payload8(s, 16 + 27), 1);  // DE track decay untouched by the invalid value
    EXPECT_EQ(static_cast<int8_t>(payload8(s, 18)), -20);
    EXPECT_EQ(payload8(s, 18 + 27), 0);
    EXPECT_EQ(payload16(s, 22), 120);  // RA untouched by a DE-only boost
    EXPECT_EQ(payload16(s, 22 + 27), 200);
    EXPECT_EQ(payload16(s, 24 + 27), 210);
    EXPECT_EQ(payload16(s, 4), 600);
    EXPECT_EQ(payload16(s, 4 + 27), 700);
    EXPECT_EQ(payload8(s, 20), 0x10);
    EXPECT_EQ(payload8(s, 20 + 27), 0x20);
    EXPECT_EQ(payload8(s, 21), 0x30);
    EXPECT_EQ(payload8(s, 21 + 27), 0x40);
    EXPECT_EQ(payload8(s, 6), 0x0C);
    EXPECT_EQ(payload8(s, 6 + 27), 8);

    Bytes site = {0xAA, 0x0A, 0x65, 0x01};
    add32(site, static_cast<uint32_t>(-3000000));
    add32(site, 12000000);
    EXPECT_EQ(ask(d, site), ackOf(0x65));
    Bytes offGlobe = {0xAA, 0x0A, 0x65, 0x01};
    add32(offGlobe, 91 * 86400);
    add32(offGlobe, 0);
    EXPECT_EQ(ask(d, offGlobe), ackOf(0x65));
    const Bytes where = ask(d, kSite);
    EXPECT_EQ(static_cast<int32_t>(payload32(where, 1)), -3000000);
    EXPECT_EQ(static_cast<int32_t>(payload32(where, 5)), 12000000);

    EXPECT_EQ(ask(d, {0xAA, 0x03, 0x1B, 0x01, 0x01}), ackOf(0x1B));
    EXPECT_EQ(ask(d, {0xAA, 0x03, 0x1B, 0x01, 0x07}), ackOf(0x1B));  // no such mount: kept
    EXPECT_EQ(payload8(ask(d, kAxisBlock), 28), 1);
    EXPECT_EQ(ask(d, {0xAA, 0x06, 0x3E, 0x01, 0x01, 0x07, 0x08, 0x14}), ackOf(0x3E));
    EXPECT_EQ(ask(d, kMeridian), (Bytes{0x55, 0x05, 0x3D, 0x00, 0x07, 0x08, 0x14}));
}

TEST(Kz2DeviceWrites, StoreKeepsLiveSettingsAndReloadBringsBackTheFactoryOnes) {
    DeviceIdentity id;
    ConfigImage stored = factoryImage();
    stored.axis[kRa].maxSpeed = 500;
    Kz2Device d(id, factoryImage(), stored);
    EXPECT_EQ(payload16(ask(d, kSettings), 4), 500);  // power-up loads the stored settings

    Bytes speeds = {0xAA, 0x07, 0x35, 0x00, 0xC0};
    add16(speeds, 321);
    add16(speeds, 654);
    ASSERT_EQ(ask(d, speeds), ackOf(0x35));
    EXPECT_EQ(d.stored().axis[kRa].maxSpeed, 500);  // not stored yet

    Recorder r;
    d.feed(kStore.data(), kStore.size(), r);
    ASSERT_EQ(r.replies.size(), 1u);
    EXPECT_EQ(r.replies[0], ackOf(0x0D));
    ASSERT_EQ(r.stores.size(), 1u);
    EXPECT_EQ(r.stores[0].axis[kDe].maxSpeed, 654);
    EXPECT_EQ(d.stored(), d.live());

    EXPECT_EQ(ask(d, kReload), ackOf(0x0C));
    EXPECT_EQ(payload16(ask(d, kSettings), 4), 800);
    EXPECT_EQ(d.live(), factoryImage());
    EXPECT_EQ(d.stored().axis[kRa].maxSpeed, 321);  // reload leaves the stored copy alone

    // A store request with a wrong sub-code is not understood: nothing stored, no reply.
    Recorder bad;
    const Bytes wrong = {0xAA, 0x02, 0x0D, 0x00};
    d.feed(wrong.data(), wrong.size(), bad);
    EXPECT_TRUE(bad.replies.empty());
    EXPECT_TRUE(bad.stores.empty());
    EXPECT_EQ(bad.ignored, (std::vector<uint8_t>{0x0D}));
}

TEST(Kz2DeviceRequests, ActionsAndFireAndForgetRequestsAreAcknowledged) {
    Kz2Device d = deviceAtLevel(6);
    const std::vector<Bytes> requests = {
        {0xAA, 0x01, 0x0B},
        {0xAA, 0x03, 0x24, 0x00, 0x01},
        {0xAA, 0x03, 0x28, 0x00, 0x01},
        {0xAA, 0x03, 0x21, 0x00, 0xC0},
        {0xAA, 0x07, 0x23, 0x00, 0x40, 0x18, 0xFC, 0xFF, 0xFF},
        {0xAA, 0x0B, 0x20, 0x01, 0xC0, 0x18, 0xFC, 0xFF, 0xFF, 0xF4, 0x01, 0x00, 0x00},
        {0xAA, 0x0A, 0x65, 0x00, 1, 2, 3, 4, 5, 6, 7, 8},
        {0xAA, 0x05, 0x6A, 0x01, 0x53, 0x48, 0x45},
        {0xAA, 0x03, 0x69, 0x01, 0x01},
        {0xAA, 0x04, 0x1D, 0x01, 0x00, 0x01},
    };
    for (const Bytes& req : requests) {
        SCOPED_TRACE(static_cast<int>(req[2]));
        EXPECT_EQ(ask(d, req), ackOf(req[2]));
    }
    EXPECT_TRUE(d.expMode());
}

TEST(Kz2DeviceRequests, NewerRequestsGoUnansweredByOlderFirmware) {
    const Bytes mount = {0xAA, 0x03, 0x1B, 0x01, 0x01};
    const Bytes hyst = {0xAA, 0x06, 0x3E, 0x01, 0x01, 0x05, 0x0F, 0x0A};
    const Bytes park4 = {0xAA, 0x04, 0x1D, 0x01, 0x00, 0x00};
    const Bytes park6 = {0xAA, 0x03, 0x69, 0x01, 0x01};
    const Bytes ref = {0xAA, 0x05, 0x6A, 0x01, 0x45, 0x45, 0x20};
    const Bytes overtone = {0xAA, 0x04, 0x3B, 0x00, 0xC0, 0x02};
    Bytes site = {0xAA, 0x0A, 0x65, 0x01};
    add32(site, 0);
    add32(site, 0);

    Kz2Device l4 = deviceAtLevel(4);
    for (const Bytes& req : {kMeridian, kSite, mount, hyst, site, park6, ref}) {
        EXPECT_TRUE(ask(l4, req).empty()) << std::hex << int{req[2]};
    }
    EXPECT_EQ(ask(l4, park4), ackOf(0x1D));
    EXPECT_EQ(ask(l4, overtone), ackOf(0x3B));

    Kz2Device l3 = deviceAtLevel(3);
    EXPECT_TRUE(ask(l3, park4).empty());
    EXPECT_EQ(ask(l3, overtone), ackOf(0x3B));
    Kz2Device l2 = deviceAtLevel(2);
    EXPECT_TRUE(ask(l2, overtone).empty());
    EXPECT_EQ(ask(l2, kSettings).size(), 60u);  // every level answers the settings block

    Kz2Device l5 = deviceAtLevel(5);
    EXPECT_EQ(ask(l5, kMeridian).size(), 7u);
    EXPECT_EQ(ask(l5, site), ackOf(0x65));
    EXPECT_TRUE(ask(l5, park6).empty());
    EXPECT_TRUE(ask(l5, ref).empty());
}

TEST(Kz2DeviceRequests, UnknownAndMalformedRequestsGetNoReply) {
    Kz2Device d = deviceAtLevel(6);
    const std::vector<Bytes> requests = {
        {0xAA, 0x01, 0x99},                       // unknown code
        {0xAA, 0x02, 0x14, 0x00},                 // read with a stray parameter
        {0xAA, 0x02, 0x2B, 0x00},                 // voltage request too short
        {0xAA, 0x06, 0x35, 0x00, 0xC0, 1, 2, 3},  // max speeds one byte short
        {0xAA, 0x03, 0x24, 0x01, 0x01},           // tracking with a wrong sub-code
    };
    for (const Bytes& req : requests) {
        Recorder r;
        d.feed(req.data(), req.size(), r);
        EXPECT_TRUE(r.replies.empty());
        EXPECT_EQ(r.requests.size(), 1u);
        EXPECT_EQ(r.ignored.size(), 1u);
    }
    EXPECT_EQ(d.live(), factoryImage());
    EXPECT_FALSE(d.tracking());
}

TEST(Kz2DeviceReassembly, SkipsNoiseAndJoinsFramesSplitAcrossFeeds) {
    Kz2Device d = deviceAtLevel(6);
    Recorder r;
    // Noise, an empty frame, an absurd length, a doubled start byte, then two requests that
    // arrive one byte at a time.
    const Bytes stream = {0x00, 0x13, 0x55, 0xAA, 0x00, 0xAA, 0xFF, 0x12, 0xAA, 0xAA,
                          0x01, 0x01, 0xAA, 0x03, 0x2B, 0x00, 0x00, 0xAA, 0x01, 0x03};
    for (const uint8_t b : stream) {
        d.feed(&b, 1, r);
    }
    ASSERT_EQ(r.requests.size(), 3u);
    EXPECT_EQ(r.requests[0], (Bytes{0xAA, 0x01, 0x01}));
    EXPECT_EQ(r.replyCodes, (std::vector<uint8_t>{0x01, 0x2B, 0x03}));

    // 0xAA inside a payload is data, not a new start.
    Bytes gear = {0xAA, 0x0B, 0x1A, 0x01, 0x80, 0xAA, 0xAA, 0x00, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(ask(d, gear), ackOf(0x1A));
    EXPECT_EQ(d.live().axis[kRa].gearRatio, 0xAAAAu);
}

TEST(Kz2DeviceReassembly, AStalledPartialFrameIsDroppedAfterItsTimeout) {
    Kz2Device d = deviceAtLevel(6);
    Recorder r;
    const Bytes head = {0xAA, 0x03, 0x2B};
    const Bytes tail = {0x00, 0x00};
    d.feed(head.data(), head.size(), r);
    d.advance(kPartialFrameTimeoutMs / 2);
    d.feed(tail.data(), tail.size(), r);
    EXPECT_EQ(r.replyCodes, (std::vector<uint8_t>{0x2B}));  // a short pause is fine

    d.feed(head.data(), head.size(), r);
    d.advance(kPartialFrameTimeoutMs);
    d.feed(tail.data(), tail.size(), r);
    d.feed(kIdentity.data(), kIdentity.size(), r);
    EXPECT_EQ(r.replyCodes, (std::vector<uint8_t>{0x2B, 0x01}));
}

TEST(Kz2DeviceReassembly, RandomBytesNeverBreakTheDeviceOrItsReplies) {
    std::mt19937 rng(7);
    Kz2Device d = deviceAtLevel(6);
    Recorder r;
    const uint8_t likely[] = {0xAA, 0x01, 0x14, 0x15, 0x0D, 0x0C, 0x23, 0x35, 0x00, 0xC0, 0x55};
    Bytes chunk;
    for (int round = 0; round < 3000; ++round) {
        chunk.resize(rng() % 64);
        for (uint8_t& b : chunk) {
            b = (rng() % 3 == 0) ? likely[rng() % sizeof likely] : static_cast<uint8_t>(rng());
        }
        d.feed(chunk.data(), chunk.size(), r);
        d.advance(rng() % 50);
    }
    EXPECT_GT(r.replies.size(), 0u);
    for (const Bytes& reply : r.replies) {
        ASSERT_GE(reply.size(), 3u);
        EXPECT_EQ(reply[0], 0x55);
        EXPECT_EQ(reply[1] + 2u, reply.size());
    }
    // Still in step afterwards.
    d.advance(kPartialFrameTimeoutMs);
    EXPECT_EQ(ask(d, kIdentity).size(), 7u);
}

TEST(Kz2DeviceMotion, AxesMoveAtTheCommandedSpeedUntilStopped) {
    Kz2Device d = deviceAtLevel(6);
    // RA west at its top speed (800 x sidereal); a request beyond it is held at it.
    Bytes fast = {0xAA, 0x07, 0x23, 0x00, 0x80};
    add32(fast, 900000);
    ASSERT_EQ(ask(d, fast), ackOf(0x23));
    EXPECT_EQ(d.speed(kRa), 800000);
    d.advance(1000);
    // 800 sidereal days' worth of turns per day: 800 x 1382400 counts in 86164.0905 s.
    const double expected = 800.0 * 1382400.0 * 1000.0 / 86164090.5;
    EXPECT_NEAR(d.position(kRa), expected, 1.0);
    EXPECT_EQ(d.position(kDe), 0);

    Bytes south = {0xAA, 0x07, 0x23, 0x00, 0x40};
    add32(south, static_cast<uint32_t>(-4000));
    ASSERT_EQ(ask(d, south), ackOf(0x23));
    d.advance(10000);
    EXPECT_NEAR(d.position(kDe), -4.0 * 1382400.0 * 10000.0 / 86164090.5, 1.0);

    ASSERT_EQ(ask(d, {0xAA, 0x03, 0x21, 0x00, 0xC0}), ackOf(0x21));
    const int32_t ra = d.position(kRa);
    const int32_t de = d.position(kDe);
    d.advance(5000);
    EXPECT_EQ(d.position(kRa), ra);
    EXPECT_EQ(d.position(kDe), de);

    // Tracking turns RA once per sidereal day; DE stays.
    ASSERT_EQ(ask(d, {0xAA, 0x03, 0x24, 0x00, 0x01}), ackOf(0x24));
    EXPECT_EQ(d.speed(kRa), 1000);
    d.advance(86164090 / 4);
    EXPECT_NEAR(d.position(kRa) - ra, 1382400 / 4, 2.0);
    EXPECT_EQ(d.position(kDe), de);
    ASSERT_EQ(ask(d, {0xAA, 0x03, 0x24, 0x00, 0x00}), ackOf(0x24));
    EXPECT_EQ(d.speed(kRa), 0);
}

TEST(Kz2DeviceMotion, PositionsReferencePositionsAndPark) {
    Kz2Device d = deviceAtLevel(6);
    const int32_t q = 1382400 / 4;
    ASSERT_EQ(ask(d, {0xAA, 0x0B, 0x20, 0x01, 0x40, 1, 0, 0, 0, 0x10, 0, 0, 0}), ackOf(0x20));
    EXPECT_EQ(d.position(kRa), 0);  // the mask names DE only
    EXPECT_EQ(d.position(kDe), 0x10);
    ASSERT_EQ(ask(d, {0xAA, 0x0A, 0x65, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0}), ackOf(0x65));
    EXPECT_EQ(d.position(kRa), -1);
    EXPECT_EQ(d.position(kDe), 2);

    ASSERT_EQ(ask(d, {0xAA, 0x05, 0x6A, 0x01, 0x45, 0x45, 0x20}), ackOf(0x6A));  // E, E
    EXPECT_EQ(d.position(kRa), -q);
    EXPECT_EQ(d.position(kDe), q);
    EXPECT_EQ(d.pierSide(), PierSide::east);
    ASSERT_EQ(ask(d, {0xAA, 0x05, 0x6A, 0x01, 0x45, 0x57, 0x20}), ackOf(0x6A));  // E, W
    EXPECT_EQ(d.position(kRa), q);
    EXPECT_EQ(d.position(kDe), -q);
    EXPECT_EQ(d.pierSide(), PierSide::west);
    ASSERT_EQ(ask(d, {0xAA, 0x05, 0x6A, 0x01, 0x5A, 0x45, 0x20}), ackOf(0x6A));  // zenith, E
    // The zenith is 90 degrees less the latitude from the pole.
    const double lat = d.live().latitude / 86400.0;
    EXPECT_NEAR(d.position(kDe), q * (90.0 - lat) / 90.0, 1.0);
    EXPECT_EQ(d.position(kRa), -q);
    ASSERT_EQ(ask(d, {0xAA, 0x05, 0x6A, 0x01, 0x57, 0x48, 0x20}), ackOf(0x6A));  // W horizon
    EXPECT_EQ(d.position(kRa), 0);
    EXPECT_EQ(d.position(kDe), q);
    // A position this firmware does not know is acknowledged and changes nothing.
    ASSERT_EQ(ask(d, {0xAA, 0x05, 0x6A, 0x01, 0x51, 0x51, 0x51}), ackOf(0x6A));
    EXPECT_EQ(d.position(kDe), q);

    ASSERT_EQ(ask(d, {0xAA, 0x03, 0x69, 0x01, 0x01}), ackOf(0x69));
    EXPECT_TRUE(d.live().parkValid);
    EXPECT_EQ(d.live().parkPosition, (std::array<int32_t, 2>{0, q}));
    EXPECT_EQ(d.live().parkPierSide, PierSide::east);
    ASSERT_EQ(ask(d, {0xAA, 0x04, 0x1D, 0x01, 0x00, 0x01}), ackOf(0x1D));
    EXPECT_EQ(d.live().parkPierSide, PierSide::west);
    EXPECT_FALSE(d.stored().parkValid);
    ASSERT_EQ(ask(d, kStore), ackOf(0x0D));
    EXPECT_TRUE(d.stored().parkValid);
}

}  // namespace
}  // namespace vornic::sim
