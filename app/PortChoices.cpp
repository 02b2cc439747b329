#include "app/PortChoices.h"

#include <algorithm>
#include <cstring>

namespace vornic {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

PortChoices buildPortChoices(const std::vector<platform::PortInfo>& present,
                             const std::string& requestedPath, const std::string& simulatorPath,
                             bool selectSimulator) {
    PortChoices choices;
    // Only as many as the logic can number.
    const size_t room = platform::PortTable::kMaxPort - 2;
    for (const platform::PortInfo& port : present) {
        if (choices.items.size() == room) {
            break;
        }
        PortChoice item;
        item.path = port.path;
        if (port.target.empty()) {
            item.label = baseName(port.path);
            item.toolTip = port.path;
        } else {
            // A by-id name is long; the device it points to comes first so that it shows in the
            // closed list.
            item.label = baseName(port.target) + ": " + baseName(port.path);
            item.toolTip = port.path + " -> " + port.target;
        }
        choices.items.push_back(std::move(item));
    }
    if (!requestedPath.empty()) {
        const auto found =
            std::find_if(choices.items.begin(), choices.items.end(),
                         [&](const PortChoice& c) { return c.path == requestedPath; });
        if (found == choices.items.end()) {
            choices.items.push_back({requestedPath, requestedPath, requestedPath});
            choices.selected = static_cast<int>(choices.items.size()) - 1;
        } else {
            choices.selected = static_cast<int>(found - choices.items.begin());
        }
    }
    if (!simulatorPath.empty()) {
        choices.items.push_back(
            {kSimulatorLabel, simulatorPath, "Built-in KZ2 simulator on " + simulatorPath});
        if (selectSimulator && requestedPath.empty()) {
            choices.selected = static_cast<int>(choices.items.size()) - 1;
        }
    }
    return choices;
}

void fillPortTable(const PortChoices& choices, platform::PortTable& table) {
    table.clear();
    uint32_t number = 1;
    for (const PortChoice& item : choices.items) {
        table.set(number++, item.path);
    }
}

std::string describeOpenError(const std::string& shownPath, const platform::OpenResult& error) {
    // The reason is built from the error code, not taken from the port's fixed-size detail text,
    // which a long device path can fill before the reason is reached.
    std::string text = "cannot open " + shownPath + ": " + platform::openErrorText(error.error);
    if (error.systemError != 0) {
        text += std::string(" (") + std::strerror(error.systemError) + ")";
    }
    // The detail is a fixed buffer filled by the platform layer; never read past it.
    const std::string detail(error.detail, strnlen(error.detail, sizeof error.detail));
    const size_t holder = detail.find("; in use by ");
    if (error.error == platform::OpenError::Busy && holder != std::string::npos) {
        // A program's name comes from the system, not from us: nothing unprintable goes out.
        std::string who = detail.substr(holder + 2, 120);
        for (char& c : who) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                c = '?';
            }
        }
        text += "; " + who;
    }
    switch (error.error) {
        case platform::OpenError::NoSuchDevice:
            text += ". Check the name and the cable; `vornic-cli ports` lists the ports present.";
            break;
        case platform::OpenError::PermissionDenied:
            text +=
                ". Your user must be in the dialout group: sudo usermod -aG dialout $USER, then "
                "log out and in again.";
            break;
        case platform::OpenError::Busy:
            text += ". Close the other program and try again.";
            break;
        case platform::OpenError::NotATerminal:
            text += ". Name the serial device of the controller, e.g. /dev/ttyUSB0.";
            break;
        default:
            text += ".";
            break;
    }
    return text;
}

}  // namespace vornic
