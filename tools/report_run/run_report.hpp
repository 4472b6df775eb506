// logbase report run and report stop: a stored report computed over log
// files and written where the appliance keeps reports, and the stop of a
// run in progress.
#pragma once

#include <string>
#include <vector>

#include "cli.hpp"

namespace report_run {

struct RunRequest {
    std::string name;
    std::string domain;
    std::vector<std::string> files; // log files; "-" is standard input
    std::string out_dir;            // empty: the domain's report folder
    unsigned jobs = 0;              // --jobs: threads counting records, 0 one per core
};

// The run, in the order of its road; a cli exit status.
int run_report(cli::Output &out, const RunRequest &request);

// Signals the run of `name` in `domain` through its pid file.
int stop_report(cli::Output &out, const std::string &name, const std::string &domain);

// Where a run of `name` in `domain` keeps its pid and progress files, and
// where reports of the domain go by default.
std::string work_dir(const std::string &domain, const std::string &name);
std::string reports_dir(const std::string &domain);

} // namespace report_run
