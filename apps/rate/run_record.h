// The fit's options of the rating tool, --method both (the design's
// results beside the fit's, and the tests where their allowable loads part
// flagged methods_disagree), and the run record: a JSON file beside the
// results naming the library version, the table's and inputs' digests,
// the method and its settings, the noise model, the bounds, the counts of
// each flag and the command line, from which --replay repeats the run.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/rating_run.h"

namespace rate_tool {

// Parses --noise, --disagree, --record and --replay; false for any other
// option. `value` takes the option's value from the command line.
bool parse_fit_option(const std::string& arg, const std::function<std::string()>& value, Options& o);

// The command line a replay runs: the record's arguments, then the given
// ones (later options win). The record must be readable and whole.
std::vector<std::string> replay_arguments(int argc, char** argv);
// The arguments a record keeps: all but --record and --replay with their values.
std::vector<std::string> recordable_arguments(const std::vector<std::string>& args);

// --method both: the design method's results beside the fit's, and the
// flag methods_disagree where the allowable loads part by more than the
// share (or only one of them is a number).
// `design` rates with design_options(o); nothing is done without both methods.
Options design_options(const Options& o);
void add_design_opinion(const Options& o, RatingRun* design, const std::vector<SectionInput>& sections,
                        std::vector<std::vector<Rated>>& rated);

// Columns the fit adds to the results: its standard errors and band, and
// with --method both the design's answer.
void write_fit_header(const Options& o, std::FILE* f);
void write_fit_columns(const Options& o, const Rated& r, int g, std::FILE* f);

// Checks that the table and inputs are those of the record being replayed
// (their digests), and writes the record of this run when asked.
void check_replayed_digests(const Options& o, const fs::path& table);
// The tests of a run and the count of each flag, gathered batch by batch.
struct RunCounts {
  long tests = 0;
  std::map<std::string, int> flags;
  void add(const std::vector<std::vector<Rated>>& rated);
};
void write_run_record(const Options& o, const fs::path& table, const RunCounts& run);

}  // namespace rate_tool
