#include "app/PortList.h"

#include <algorithm>
#include <cstring>

#include "platform/SystemText.h"

namespace vornic {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PortChoice choiceFor(const platform::PortInfo& port) {
    PortChoice item;
    item.path = port.path;
    if (!port.name.empty()) {
        // The system's own name already says which port it is.
        item.label = port.name;
        item.toolTip = port.target.empty() ? port.path : port.path + " -> " + port.target;
    } else if (port.target.empty()) {
        item.label = baseName(port.path);
        item.toolTip = port.path;
    } else {
        // A by-id name is long; the device it points to comes first so that it shows in the
        // closed list.
        item.label = baseName(port.target) + ": " + baseName(port.path);
        item.toolTip = port.path + " -> " + port.target;
    }
    return item;
}

// What a kept entry whose device went away shows after the device's short name, where the closed
// list still shows it.
constexpr const char* kGone = " (gone)";

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
        choices.items.push_back(choiceFor(port));
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

PortList::PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
                   const std::string& simulatorPath, bool selectSimulator)
    : PortList(std::move(scan), table, requestedPath,
               simulatorPath.empty() ? StartSimulator{}
                                     : StartSimulator{[simulatorPath] { return simulatorPath; }},
               selectSimulator, true) {}

PortList::PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
                   StartSimulator startSimulator, bool selectSimulator)
    : PortList(std::move(scan), table, requestedPath, std::move(startSimulator), selectSimulator,
               selectSimulator && requestedPath.empty()) {}

PortList::PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
                   StartSimulator startSimulator, bool selectSimulator, bool startNow)
    : scan_(std::move(scan)),
      table_(table),
      requested_(requestedPath),
      startSimulator_(std::move(startSimulator)) {
    bool offered = static_cast<bool>(startSimulator_);
    if (offered && startNow) {
        // Chosen from the start: one that cannot be had is not offered, as before.
        simulator_ = startSimulator_();
        startSimulator_ = nullptr;
        offered = !simulator_.empty();
    }
    PortChoices choices = buildPortChoices(scan_(), requestedPath, simulator_, selectSimulator);
    if (offered && simulator_.empty()) {
        // Not running yet: last in the list, like a running one, with no device behind it.
        choices.items.push_back({kSimulatorLabel, "", simulatorToolTip()});
    }
    fillPortTable(choices, table_);
    for (const PortChoice& item : choices.items) {
        paths_.push_back(item.path);
        rows_.push_back({static_cast<uint32_t>(paths_.size()), item.label, item.toolTip});
    }
    if (offered) {
        simulatorNumber_ = static_cast<uint32_t>(paths_.size());
    }
    initial_ = static_cast<uint32_t>(choices.selected) + 1;
}

void PortList::connecting(uint32_t number) {
    connected_ = number;
    if (number == 0 || number != simulatorNumber_ || !simulator_.empty() || !startSimulator_) {
        return;
    }
    simulator_ = startSimulator_();
    if (!simulator_.empty()) {
        startSimulator_ = nullptr;
        paths_[number - 1] = simulator_;
        table_.set(number, simulator_);
    }
}

std::string PortList::simulatorToolTip() const {
    return simulator_.empty() ? std::string("Built-in KZ2 simulator, started on connecting")
                              : "Built-in KZ2 simulator on " + simulator_;
}

std::string PortList::pathOf(uint32_t number) const {
    return number >= 1 && number <= paths_.size() ? paths_[number - 1] : std::string();
}

uint32_t PortList::numberFor(const std::string& path) {
    const auto found = std::find(paths_.begin(), paths_.end(), path);
    if (found != paths_.end()) {
        return static_cast<uint32_t>(found - paths_.begin()) + 1;
    }
    // Every number given out stays with its device, so after 256 different devices in one run
    // there is none left for a new one; it is not offered rather than taking a number in use.
    if (paths_.size() >= platform::PortTable::kMaxPort) {
        return 0;
    }
    paths_.push_back(path);
    const auto number = static_cast<uint32_t>(paths_.size());
    table_.set(number, path);
    return number;
}

void PortList::pushRow(uint32_t number, PortChoice choice) {
    rows_.push_back({number, std::move(choice.label), std::move(choice.toolTip)});
}

bool PortList::rescan(uint32_t selected) {
    const std::vector<PortRow> before = std::move(rows_);
    rows_.clear();
    const auto listed = [this](uint32_t number) {
        return std::any_of(rows_.begin(), rows_.end(),
                           [number](const PortRow& row) { return row.number == number; });
    };
    for (const platform::PortInfo& port : scan_()) {
        if (port.path.empty() || (!simulator_.empty() && port.path == simulator_)) {
            continue;  // the simulator has its own place, last
        }
        const uint32_t number = numberFor(port.path);
        if (number != 0 && !listed(number)) {
            pushRow(number, choiceFor(port));
        }
    }
    if (!requested_.empty()) {
        const uint32_t number = numberFor(requested_);
        if (!listed(number)) {
            pushRow(number, {requested_, requested_, requested_});
        }
    }
    const uint32_t simulator = simulatorNumber_;
    for (const uint32_t number : {selected, connected_}) {
        if (number == 0 || number == simulator || listed(number)) {
            continue;
        }
        const auto old = std::find_if(before.begin(), before.end(), [number](const PortRow& row) {
            return row.number == number;
        });
        if (old != before.end()) {
            PortRow row = *old;
            if (row.label.find(kGone) == std::string::npos) {
                const size_t colon = row.label.find(": ");
                row.label.insert(colon == std::string::npos ? row.label.size() : colon, kGone);
                row.toolTip += kGone;
            }
            rows_.push_back(std::move(row));
        }
    }
    if (simulator != 0) {
        pushRow(simulator, {kSimulatorLabel, simulator_, simulatorToolTip()});
    }
    return rows_ != before;
}

std::string describeOpenError(const std::string& shownPath, const platform::OpenResult& error) {
    // The reason is built from the error code, not taken from the port's fixed-size detail text,
    // which a long device path can fill before the reason is reached.
    std::string text = "cannot open " + shownPath + ": " + platform::openErrorText(error.error);
    if (error.systemError != 0) {
        text += " (" + platform::systemErrorText(error.systemError) + ")";
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
    text += ".";
    if (const char* advice = platform::openErrorAdvice(error.error); advice[0] != '\0') {
        text += std::string(" ") + advice;
    }
    return text;
}

}  // namespace vornic
