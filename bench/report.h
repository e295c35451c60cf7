// SPDX-License-Identifier: Apache-2.0
#pragma once

// The figures as printed on standard output: a markdown table of each figure's median over
// the runs, its range and its target, then what the programs' resident memory holds.

#include <optional>
#include <string>
#include <vector>

#include "line_runs.h"
#include "process_runs.h"

namespace pj::bench {

struct Row {
    std::string figure;
    std::vector<double> values;  // one per run
    std::string unit;
    int decimals;
    std::string target;
    std::optional<bool> met;  // empty: no target of its own
};

class Table {
  public:
    void add(std::string figure, std::vector<double> values, std::string unit, int decimals) {
        rows_.push_back({std::move(figure), std::move(values), std::move(unit), decimals, "", {}});
    }
    // A figure with a target; `met` says whether the median meets it.
    void add(std::string figure, std::vector<double> values, std::string unit, int decimals,
             std::string target, bool met) {
        rows_.push_back(
            {std::move(figure), std::move(values), std::move(unit), decimals, target, met});
    }
    const std::vector<Row>& rows() const { return rows_; }

  private:
    std::vector<Row> rows_;
};

// The rows of (a), (b) and (c) from the runs on the line, and of (d), (e) and (f) from the
// runs as processes.
void pressRows(const std::vector<LineRun>& runs, Table& table);
void holdRows(const std::vector<LineRun>& runs, Table& table);
void saturationRows(const std::vector<LineRun>& runs, Table& table);
void processRows(const std::vector<ProcessRun>& runs, Table& table);

// The table, and a line on how many runs its medians are of (0: none of that kind).
void printTable(const Table& table, int lineRuns, int processRuns);
// Resident memory by kind once idle, and the libraries only the panel maps.
void printMemoryKinds(const std::vector<ProcessRun>& runs);

}  // namespace pj::bench
