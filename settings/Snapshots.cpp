#include "settings/Snapshots.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "settings/Backup.h"

namespace vornic::settings {

namespace {

// More names than this in one folder are not looked at: it is not ours to sort out.
constexpr size_t kMaxNamesRead = 10000;
// Snapshots written in one second, at most.
constexpr int kMaxSameSecond = 999;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a snapshot name "YYYY-MM-DDTHH-MM-SSZ[-n].json": the stamp and the number (1 without one).
// False for any other name.
bool parseName(const std::string& name, std::string& stamp, int& number) {
    static const char kPattern[] = "dddd-dd-ddTdd-dd-ddZ";
    const size_t stampLength = sizeof kPattern - 1;
    const std::string suffix = ".json";
    if (name.size() < stampLength + suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    for (size_t i = 0; i < stampLength; ++i) {
        if (kPattern[i] == 'd' ? !isDigit(name[i]) : name[i] != kPattern[i]) {
            return false;
        }
    }
    stamp = name.substr(0, stampLength);
    const std::string rest = name.substr(stampLength, name.size() - stampLength - suffix.size());
    if (rest.empty()) {
        number = 1;
        return true;
    }
    if (rest.size() < 2 || rest.size() > 4 || rest[0] != '-' || rest[1] == '0') {
        return false;
    }
    number = 0;
    for (size_t i = 1; i < rest.size(); ++i) {
        if (!isDigit(rest[i])) {
            return false;
        }
        number = number * 10 + (rest[i] - '0');
    }
    return number >= 2;
}

struct Named {
    std::string name;
    std::string stamp;
    int number = 1;
};

// Our files in `folder`, newest first.
std::vector<Named> ours(const std::string& folder) {
    std::vector<std::string> names;
    std::string error;
    std::vector<Named> result;
    if (!platform::listFiles(folder, kMaxNamesRead, names, error)) {
        return result;
    }
    for (const std::string& name : names) {
        Named entry;
        if (parseName(name, entry.stamp, entry.number)) {
            entry.name = name;
            result.push_back(std::move(entry));
        }
    }
    std::sort(result.begin(), result.end(), [](const Named& a, const Named& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.number > b.number;
    });
    return result;
}

std::string readableDate(const std::string& stamp) {
    // "2026-12-08T06-15-02Z" -> "2026-12-08 06:15:02 UTC"
    return stamp.substr(0, 10) + " " + stamp.substr(11, 2) + ":" + stamp.substr(14, 2) + ":" +
           stamp.substr(17, 2) + " UTC";
}

std::string stampOf(std::time_t now, const char* format) {
    std::tm utc{};
    platform::utcTime(now, utc);
    char text[32] = {};
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

}  // namespace

std::string controllerFolderName(const MountSettings& controller) {
    const std::string identity = identityLine(controller);
    std::string name;
    for (const char c : identity) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) ||
                          c == '-' || (c == '.' && !name.empty() && name.back() != '.');
        if (keep) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && (name.back() == '_' || name.back() == '.')) {
        name.pop_back();
    }
    return name.empty() ? std::string("controller") : name;
}

std::string backupFileName(const MountSettings& controller, std::time_t now) {
    return "vornic-" + controllerFolderName(controller) + "-" + stampOf(now, "%Y-%m-%d") + ".json";
}

std::string SnapshotStore::defaultRoot() {
    const std::string data = platform::userDataFolder();
    return data.empty() ? std::string() : data + "/snapshots";
}

std::string SnapshotStore::folderFor(const MountSettings& controller) const {
    return root_ + "/" + controllerFolderName(controller);
}

bool SnapshotStore::write(const MountSettings& controller, std::time_t now, std::string& path,
                          std::string& error) const {
    if (root_.empty()) {
        error = "there is no folder for this user's data";
        return false;
    }
    const std::string folder = folderFor(controller);
    if (!platform::makeFolders(folder, error)) {
        return false;
    }
    const std::string stamp = stampOf(now, "%Y-%m-%dT%H-%M-%SZ");
    std::vector<std::string> names;
    if (!platform::listFiles(folder, kMaxNamesRead, names, error)) {
        return false;
    }
    std::string name;
    for (int n = 1; n <= kMaxSameSecond && name.empty(); ++n) {
        const std::string candidate =
            stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".json";
        if (std::find(names.begin(), names.end(), candidate) == names.end()) {
            name = candidate;
        }
    }
    if (name.empty()) {
        error = "too many snapshots in one second";
        return false;
    }
    path = folder + "/" + name;
    const Json doc = makeBackup(controller, stampOf(now, "%Y-%m-%dT%H:%M:%SZ"));
    if (!writeFileText(path, doc.dump(2) + "\n", error)) {
        return false;
    }
    const std::vector<Named> kept = ours(folder);
    for (size_t i = kSnapshotsKept; i < kept.size(); ++i) {
        std::string ignored;
        (void)platform::removeFile(folder + "/" + kept[i].name, ignored);
    }
    return true;
}

std::vector<SnapshotFile> SnapshotStore::list(const MountSettings& controller) const {
    std::vector<SnapshotFile> result;
    if (root_.empty()) {
        return result;
    }
    const std::string folder = folderFor(controller);
    for (const Named& entry : ours(folder)) {
        result.push_back({folder + "/" + entry.name, entry.name, readableDate(entry.stamp)});
    }
    return result;
}

}  // namespace vornic::settings
