#include "ui/AccessibleNames.h"

#include <cstddef>

#include "ui/MainDialogIds.h"

namespace vornic::ui {

namespace {

struct Named {
    ControlId id;
    const char* name;
};

// Main-dialog controls whose own text (if any) does not say what they are.
constexpr Named kMainNames[] = {
    {kIdPortList, "Port"},
    {kIdStatusLine, "Status"},
    {kIdIdentityLine, "Controller identity"},
    {kIdVoltage, "Supply voltage"},
    {kIdMoveNorth, "Move north"},
    {kIdMoveSouth, "Move south"},
    {kIdMoveEast, "Move east"},
    {kIdMoveWest, "Move west"},
    {kIdSpeed, "Speed"},
    {kIdGearRa, "RA gear ratio"},
    {kIdGearDe, "DE gear ratio"},
};

// Axis-group controls by their RA id; the group's caption goes in front. A slider and the field
// showing its value share a setting, so the field says "value".
constexpr Named kAxisNames[] = {
    {kIdMaxSpeedSliderRa, "Max speed"},         {kIdMaxSpeedRa, "Max speed value"},
    {kIdAccelSliderRa, "Acceleration"},         {kIdAccelRa, "Acceleration value"},
    {kIdDecelSliderRa, "Deceleration"},         {kIdDecelRa, "Deceleration value"},
    {kIdMaxCurrentRa, "Max current"},           {kIdIdleCurrentRa, "Idle current value"},
    {kIdTrackCurrentRa, "Track current value"}, {kIdRunCurrentRa, "Run current value"},
    {kIdIdleCurrentSliderRa, "Idle current"},   {kIdTrackCurrentSliderRa, "Track current"},
    {kIdRunCurrentSliderRa, "Run current"},     {kIdIdleDecayRa, "Idle decay"},
    {kIdTrackDecayRa, "Track decay"},           {kIdRunDecayRa, "Run decay"},
    {kIdOvertoneSliderRa, "3rd overtone"},      {kIdOvertoneRa, "3rd overtone value"},
    {kIdIncCurrentSliderRa, "Inc. current at"}, {kIdIncCurrentRa, "Inc. current at value"},
    {kIdGuidingRa, "Guiding corrections"},
};

// A caption without the punctuation that only the eye needs ("About...", "Latitude:").
std::string plain(const char* text) {
    std::string s = text;
    for (const char* tail : {"...", ":"}) {
        const std::string t = tail;
        if (s.size() > t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0) {
            s.erase(s.size() - t.size());
        }
    }
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s;
}

bool isLabel(ControlKind kind) {
    return kind == ControlKind::kLabel || kind == ControlKind::kLabelRight ||
           kind == ControlKind::kLabelCentre;
}

bool contains(const Rect& outer, const Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

}  // namespace

std::string accessibleName(const DialogLayout& dialog, const ControlLayout& control) {
    if (!isInteractive(control)) {
        return {};
    }
    if (dialog.id == kMainDialogId) {
        for (const Named& n : kMainNames) {
            if (n.id == control.id) {
                return n.name;
            }
        }
        const bool dec = control.id >= kIdReverseRotationRa + kDecOffset && control.id < 400;
        if (control.id >= kIdReverseRotationRa && control.id < 400) {
            const std::string group = dec ? "Dec " : "RA ";
            const ControlId raId = dec ? control.id - kDecOffset : control.id;
            for (const Named& n : kAxisNames) {
                if (n.id == raId) {
                    return group + n.name;
                }
            }
            return group + plain(control.text);
        }
    }
    if (control.text[0] != '\0') {
        return plain(control.text);
    }
    // A field or list is named by the nearest label before it, and by its group when that label
    // alone is ambiguous (the gear ratio band's "RA:").
    const ControlLayout* label = nullptr;
    for (const ControlLayout& c : dialog.controls) {
        if (&c == &control) {
            break;
        }
        if (isLabel(c.kind) && c.text[0] != '\0') {
            label = &c;
        }
    }
    if (label == nullptr) {
        return {};
    }
    std::string name = plain(label->text);
    for (const ControlLayout& c : dialog.controls) {
        if (c.kind == ControlKind::kGroupBox && contains(c.rect, control.rect) && name.size() < 4) {
            name = plain(c.text) + " " + name;
        }
    }
    return name;
}

}  // namespace vornic::ui
