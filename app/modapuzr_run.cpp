// The time loop: per step the Ctrl-C agreement, the date, the meteorological
// input, the vertical water balance with its sub-step loop, routing, the
// step's output and the advance of the inputs. Every process runs the same
// loop; the two agreements of each step keep them in step.
#include <mpi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "modelbase/diagstream.h"
#include "app/modapuzr.h"
#include "modelbase/signals.h"
#include "app/teilmod_special.h"
#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "meteo/superposition.h"
#include "routing/abfluss.h"
#include "routing/surfrout.h"
#include "settings/defltuzr.h"
#include "snow/snowmod.h"
#include "soilwater/gwflow.h"
#include "soilwater/siltingup.h"
#include "soilwater/unsatzon.h"
#include "vertical/etpetr.h"
#include "vertical/expokorr.h"
#include "vertical/interzep.h"
#include "vertical/irrigate.h"

namespace {

constexpr int CHOICE_END_AFTER_STEP = 1;
constexpr int CHOICE_STOP_NOW = 2;
constexpr int CHOICE_FLUSH = 3;
constexpr int STATE_ENDED_BY_USER = 99;
constexpr int EXIT_STOPPED_BY_USER = 98;
constexpr int64_t NO_DATE = -9999;

int agree_max(int value) {
  int agreed = 0;
  MPI_Reduce(&value, &agreed, 1, MPI_INT, MPI_MAX, 0, MPI_COMM_WORLD);
  MPI_Bcast(&agreed, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return agreed;
}

// One character from standard input, leading white space skipped. A batch
// run has no answer to give: the end of input or a read error counts as
// choice 1, which ends the run after this step and keeps every result.
int read_menu_choice() {
  int c = std::getchar();
  while (c != EOF && std::isspace(c)) c = std::getchar();
  if (c == EOF) return CHOICE_END_AFTER_STEP;
  return std::isdigit(c) ? c - '0' : 0;
}

}  // namespace

int ModellApplication::run() {
  try {
    run_loop();
  } catch (int) {
    diag_entry(*diag, "FATAL: Exception in Modellapplication::run() caught!");
    throw;
  }
  return ctrl_c_state;
}

void ModellApplication::run_loop() {
  int run_counter = 1;
  if (settings->spinup_switch > 0) {
    if (pre_spinup > 0) TemperaturePreSpinUp();
    // Without repetitions no step is simulated.
    if (repeat_count <= 0) end_of_run = 1;
  }
  while (end_of_run == 0) {
    agree_on_ctrl_c();
    step_date = current_date();
    const model_date& t = step_date;
    const int64_t hour = t.hour, day = t.day, month = t.month, year = t.year;
    exchange_coupling_input(t);
    run_meteo_inputs(t);

    const int dt = evapotranspiration->get_flow_control() == 0
                       ? 1440
                       : evapotranspiration->get_time_interval();
    settings_object->update_periodic_grids(hour, day, month, year, dt);
    settings_object->update_landuse_parameters(hour, day, month, year, dt);
    for (int i = 1; i <= meteo_count(); ++i)
      meteo_inputs[static_cast<size_t>(i)]->output_result_grid();
    superposition->write_output();

    run_vertical_balance(t);
    routing->time_step(hour, day, month, year);

    settings_object->write_standard_grids(hour, day, month, year);
    settings_object->write_variable_grids(hour, day, month, year);
    settings_object->clear_grid_statistics();
    settings_object->add_grid_statistics();
    settings_object->complete_grid_statistics(hour, day, month, year);
    special_output->sample_step(hour, day, month, year, 0, 0);

    advance_inputs();
    exchange_coupling_output();
    repeat_for_spinup(run_counter);
  }
}

void ModellApplication::agree_on_ctrl_c() {
  const int agreed = agree_max(ctrl_c_state);
  ctrl_c_state = agreed;
  ctrl_c_state = 0;
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (rank == 0 && agreed == 1) {
    diag_entry(*diag,
               "SKIP: \n\nCtrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next "
               "interval (writing all grids and buffers)\n2 = cancel now without saving "
               "buffers!\n3 = flush buffers and go on\n\nchoose one of the above options: ");
    ctrl_c_state = read_menu_choice();
  }
  const int choice = agree_max(ctrl_c_state);
  ctrl_c_state = choice;
  if (choice <= 0) return;
  if (choice == CHOICE_END_AFTER_STEP) {
    end_with_this_step();
    ctrl_c_state = STATE_ENDED_BY_USER;
    arm_sigint();
  } else if (choice == CHOICE_STOP_NOW) {
    diag_entry(*diag, "WARNING: program manually killed by pressing Ctrl-C and selecting 2!");
    diag->close();
    std::fflush(stdout);
    std::exit(EXIT_STOPPED_BY_USER);
  } else {
    if (choice == CHOICE_FLUSH) flush_all_outputs();
    ctrl_c_state = 0;
    arm_sigint();
  }
}

void ModellApplication::end_with_this_step() {
  for (int i = 1; i <= meteo_count(); ++i)
    meteo_inputs[static_cast<size_t>(i)]->end_at_current_date();
  const model_date t = current_date();
  const auto y = static_cast<uint64_t>(t.year);
  const auto m = static_cast<uint64_t>(t.month);
  const auto d = static_cast<uint64_t>(t.day);
  const auto h = static_cast<uint64_t>(t.hour);
  for (teilmodellklasse* module : modules) module->set_end_date(y, m, d, h);
  settings_object->set_end_date(y, m, d, h);
  special_output->set_end_date(y, m, d, h);
}

void ModellApplication::flush_all_outputs() {
  for (int i = 1; i <= meteo_count(); ++i) meteo_inputs[static_cast<size_t>(i)]->flush_outputs();
  for (teilmodellklasse* module : modules) module->flush_outputs();
  settings_object->flush_grid_statistics();
  special_output->flush_outputs();
}

model_date ModellApplication::current_date() {
  model_date t{NO_DATE, NO_DATE, NO_DATE, NO_DATE};
  if (meteo_count() >= 1) meteo_inputs[1]->get_current_date(t.hour, t.day, t.month, t.year);
  return t;
}

void ModellApplication::exchange_coupling_input(const model_date& t) {
  if (!settings_object->coupling_active()) return;
  coupling_interval = settings_object->get_coupling_interval();
  bool due = false;
  switch (coupling_interval) {
    case 'I': due = true; break;
    case 'H': due = t.hour != last_exchange.hour; break;
    case 'D': due = t.day != last_exchange.day; break;
    case 'M': due = t.month != last_exchange.month; break;
    case 'Y': due = t.year != last_exchange.year; break;
    default: break;
  }
  if (!due) return;
  const int64_t poll_ticks = settings_object->get_wait_interval();
  WaitForFile(settings_object->get_semaphore_file(), poll_ticks);
  last_exchange = t;
  settings_object->read_coupling_input(t.year, t.month, t.day, t.hour);
  if (settings_object->has_external_gw_table())
    unsat->apply_external_gw_table(settings_object->get_external_time_step());
}

void ModellApplication::exchange_coupling_output() {
  if (!settings_object->coupling_active()) return;
  // The date of the next record, or the step's own without an input.
  model_date t = step_date;
  if (meteo_count() >= 1) meteo_inputs[1]->get_current_date(t.hour, t.day, t.month, t.year);
  coupling_interval = settings_object->get_coupling_interval();
  bool due = coupling_interval == 'I' || end_of_run != 0;
  switch (coupling_interval) {
    case 'H': due = due || t.hour != last_exchange.hour; break;
    case 'D': due = due || t.day != last_exchange.day; break;
    case 'M': due = due || t.month != last_exchange.month; break;
    case 'Y': due = due || t.year != last_exchange.year; break;
    default: break;
  }
  if (!due) {
    settings_object->accumulate_coupling_output();
    return;
  }
  const bool ends = end_of_run != 0;
  settings_object->write_coupling_output(last_exchange.day, last_exchange.month,
                                         last_exchange.year, ends || t.day != last_exchange.day,
                                         ends || t.month != last_exchange.month,
                                         ends || t.year != last_exchange.year);
  const std::string content = settings_object->get_semaphore_content();
  WriteSemaphoreFile(settings_object->get_semaphore_target_file(), content);
}

void ModellApplication::run_meteo_inputs(const model_date& t) {
  for (int i = 1; i <= meteo_count(); ++i) {
    meteointerpol* input = meteo_inputs[static_cast<size_t>(i)];
    if (input->get_method() == 10 || input->get_method() == 11) input->fit_station_regression(0);
  }
  if (superposition->get_flow_control() == 0) precipitation_correction->correct_station_data();
  for (int i = 1; i <= meteo_count(); ++i)
    meteo_inputs[static_cast<size_t>(i)]->interpolate(t.hour, t.day, t.month, t.year);
  superposition->time_step(t.hour, t.day, t.month, t.year);
  if (superposition->get_flow_control() != 0 || precipitation_correction->get_grid_mode() != 0)
    precipitation_correction->correct_precipitation_grid();
}

void ModellApplication::run_vertical_balance(const model_date& t) {
  const int64_t hour = t.hour, day = t.day, month = t.month, year = t.year;
  radiation_correction->time_step(hour, day, month, year);
  evapotranspiration->compute_potential_evapotranspiration(hour, day, month, year);
  irrigation->time_step(hour, day, month, year);
  evapotranspiration->compute_snow_evaporation(hour, day, month, year);
  if (interception_before_snow != 0) {
    interception->time_step(hour, day, month, year);
    snow->time_step(hour, day, month, year);
  } else {
    snow->time_step(hour, day, month, year);
    interception->time_step(hour, day, month, year);
  }
  silting_up->time_step(hour, day, month, year);
  for (teilmodellklasse* module : substep_modules) module->begin_step(t);
  const int count = unsat->get_substeps();
  for (int k = 1; k <= count; ++k)
    for (teilmodellklasse* module : substep_modules) module->run_substep(t, k);
  unsat->compute_max_pumping();
  for (teilmodellklasse* module : substep_modules) module->end_step(t);
}

void ModellApplication::advance_inputs() {
  int at_end = 0;
  for (int i = 1; i <= meteo_count(); ++i) {
    meteointerpol* input = meteo_inputs[static_cast<size_t>(i)];
    input->read_next_record();
    if (input->is_end_of_data() != 0) ++at_end;
  }
  if (meteo_count() == 0 || at_end == meteo_count()) end_of_run = 1;
}

void ModellApplication::repeat_for_spinup(int& run_counter) {
  if (settings->spinup_switch != 1 || end_of_run == 0 || repeat_count <= run_counter) return;
  diag_entry(*diag, "INFO: SpinUp reached end of defined time range for run #", run_counter,
             ", resetting inputs and starting again now (repetition ", run_counter + 1, " of ",
             repeat_count, ")");
  end_of_run = 0;
  for (int i = 1; i <= meteo_count(); ++i) {
    meteo_inputs[static_cast<size_t>(i)]->rewind_inputs();
    meteo_inputs[static_cast<size_t>(i)]->read_next_record();
  }
  ++run_counter;
}
