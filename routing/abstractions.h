// AL_class: one abstraction (AL entry) at the outlet of a reach's subbasin.
// Its modus says how much it takes each step: a share of the flow above a
// minimum ("intern", "extern"), a series from a file ("from_file"), or an
// operation rule on the flow ("intern_with_rule", "extern_with_rule") or on
// the storage of the reach's reservoir ("intern_with_rule_from_reservoir").
// Water of the internal modes reappears in the same step as the internal
// inflow (ZL) whose number is the AL's; the other modes write what they
// take to their output file. Amounts are mm per step over the reach area
// A_T / phi; the rules work in m3 s-1.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/timeseries.h"
#include "routing/operation_rules.h"
#include "submodel/runoffrecords.h"

class DiagStream;
struct tracer_entry;

enum abstraction_modus {
  AL_NONE = 0,
  AL_INTERN = 3,
  AL_EXTERN = 4,
  AL_FROM_FILE = 5,
  AL_INTERN_WITH_RULE = 6,
  AL_EXTERN_WITH_RULE = 7,
  AL_INTERN_FROM_RESERVOIR = 8,
};

constexpr size_t MAX_ABSTRACTION_WORD = 99;     // characters of a modus or unit word
constexpr size_t MAX_ABSTRACTION_FILE = 1200;   // characters of a file name
constexpr double ROUTING_ROW_BUFFER_BYTES = 2097152;  // [bytes] rows buffered before a flush

// Appends the first `pending` dated rows (year, month, day, hour, values) to
// the output file `name` of an abstraction or reservoir; throws 65.
void append_dated_rows(DiagStream& diag, const std::string& name,
                       const std::vector<std::vector<double>>& rows, int pending);

// Modus number of a word, AL_NONE for another word.
int abstraction_modus_of(const std::string& word);

class AL_class {
 public:
  AL_class();
  AL_class(const AL_class&) = delete;
  AL_class& operator=(const AL_class&) = delete;
  ~AL_class();

  // area [km2] A_T, factor [-] phi, dt [min]; output_directory may be null.
  void init_context(DiagStream* diag, const tracer_entry* tracers, int ntr, int reach_code,
                    double area, double factor, double dt, const std::string* output_directory);
  // text: the entry's own text after its number. Throws 44, 37, 38 after
  // the diagnostics entry.
  void parse_entry(int n, const std::string& text, int year, int month, int day, int hour);
  // Rule modes only; throws 34.
  void read_rule_section(std::FILE* control);
  void connect_inflow(int receiving_index, double receiving_area, double receiving_factor,
                      int reference_index, double reference_area);
  // Amount [mm per step] of the step, limited to water - total; adds it to
  // total. "from_file" throws 36 (row of another date) and 39 (file ended).
  double abstraction_amount(const subbasin_flow_arrays& routing_flows, double& total,
                            double water, int year, int month, int day, int hour);
  // [mm per step] from the flow q [m3 s-1].
  double evaluate_rule(const subbasin_flow_arrays& routing_flows, int year, int month, int day,
                       int hour, double q);
  // [m3 s-1] from the reservoir storage [m3]; queues may be null.
  double evaluate_rule_with_weekdays(const std::vector<std::vector<std::vector<double>>>* queues,
                                     int year, int month, int day, int hour, double storage);
  // exchange [0] the amount [m3 s-1], [1..ntr] its concentrations.
  void write_output_row(int year, int month, int day, int hour, const std::vector<double>& exchange);
  void flush_output(int flag);
  void release();

  double m3s_to_mm(double q) const;  // over A_T / phi and dt
  double mm_to_m3s(double q) const;
  // The reach adjusts its area to the zone grid: amounts scaled, area replaced.
  void rescale_area(double ratio, double new_area);

  int modus() const { return modus_; }
  int number() const { return n_; }
  bool internal() const {
    return modus_ == AL_INTERN || modus_ == AL_INTERN_WITH_RULE ||
           modus_ == AL_INTERN_FROM_RESERVOIR;
  }
  bool writes_file() const {
    return modus_ == AL_EXTERN || modus_ == AL_FROM_FILE || modus_ == AL_EXTERN_WITH_RULE;
  }
  bool has_rule() const {
    return modus_ == AL_INTERN_WITH_RULE || modus_ == AL_EXTERN_WITH_RULE ||
           modus_ == AL_INTERN_FROM_RESERVOIR;
  }
  // [0]: the amount [m3 s-1] the reservoir step sets for
  // "intern_with_rule_from_reservoir".
  std::vector<double>& amount() { return abstraction_amount_; }
  int connected_index() const { return receiving_index; }
  double fraction() const { return abstraction_fraction; }
  double q_min() const { return Qmin; }  // [mm per step]
  double q_max() const { return Qmax; }  // [mm per step]
  const std::string& output_file() const { return output_name; }
  int pending_rows() const { return pending; }
  const operation_rule& rule() const { return rule_; }
  operation_rule& rule() { return rule_; }

 private:
  [[noreturn]] void fail(int code, const std::string& message);
  void open_input(int year, int month, int day, int hour);
  void create_output();

  DiagStream* diag = nullptr;
  const tracer_entry* tracers = nullptr;
  int ntr = 0;
  double abstraction_fraction = 0;  // [-]
  double Qmin = 0;                  // [mm per step]
  double Qmax = 0;                  // [mm per step]
  int modus_ = AL_NONE;
  std::vector<std::vector<double>> rows;  // pending output rows: date and ntr + 1 values
  int capacity = 1;
  int pending = 0;
  std::string output_name;
  std::string input_name;
  int year_ = 0, month_ = 0, day_ = 0, hour_ = 0;
  std::vector<double> abstraction_amount_;
  int reach_code = 0;
  int n_ = 0;
  operation_rule rule_;
  double area = 0;    // [km2] A_T
  double factor = 1;  // [-] phi
  double dt = 60;     // [min]
  std::unique_ptr<TimeSeriesReader> input;
  int input_column = 0;
  int receiving_index = -1;
  double receiving_area = -1;
  double receiving_factor = 1;
  int reference_index = 0;
  double reference_area = 0;  // [km2]
  std::string output_directory;
};
