#pragma once
// Running one vornic-cli command: connecting (to the user's port or to a kz2-sim it starts),
// carrying out the command through the engine, printing every report as it arrives, and turning
// the outcome into the exit status.

#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Format.h"
#include "cli/Reports.h"

namespace vornic::cli {

// Prints reports and results, as text for people or as JSON lines. Everything goes to stdout and
// is flushed line by line, so a reader on a pipe sees each report when it arrives.
class Output {
  public:
    explicit Output(bool json, std::FILE* out = stdout) : json_(json), out_(out) {}

    // Full settings listings for settings reports (info, reload-defaults) instead of a summary.
    void setFullListing(bool on) { fullListing_ = on; }

    void report(const Report& report);
    // A line of text for people; in JSON mode nothing.
    void text(const std::string& line);
    // A JSON object in JSON mode; nothing otherwise.
    void json(const Json& object);

    [[nodiscard]] bool isJson() const { return json_; }
    // The errno of the first line that could not be written, or 0.
    [[nodiscard]] int writeError() const { return writeError_; }

  private:
    void emit(const std::string& line);

    const bool json_;
    std::FILE* const out_;
    bool fullListing_ = false;
    int writeError_ = 0;
};

// Runs a parsed command line. Returns the exit status; reasons for failures go to stderr.
int runInvocation(const Invocation& invocation);

}  // namespace vornic::cli
