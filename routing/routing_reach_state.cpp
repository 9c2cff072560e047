// A reach's part of the section "[routing_model]" of the storage content
// file: per channel and subbasin (or inflow) the translation queues of every
// tracer index, the sub-channels' outflows and flood shares, the river-flow
// records, and the reservoirs' contents. The queue ends are not stored: the
// set-up places them from the flows at the start of the run.
#include <cstdio>

#include "modelbase/diagstream.h"
#include "routing/reservoirs.h"
#include "routing/routing_reach.h"

namespace {

constexpr int VALUES_PER_LINE = 10;

// The reach's parts, counted for the position of a failing line: the first
// line and every line that carries text.
struct part_position {
  int lines = 1;
};

}  // namespace

double routingclass::step_decay_factor(int t) const {
  if (step_decay == nullptr || t < 1 || static_cast<size_t>(t) >= step_decay->size()) return 1.0;
  return (*step_decay)[static_cast<size_t>(t)];
}

void routingclass::write_state(std::FILE* f) const {
  const int a = time_splitting;
  const bool with_records = riverflows != nullptr && !riverflows->empty();
  std::fprintf(f, "%d (routing subbasin with tributaries", reach_code);
  for (int j = 1; j <= ol + sumtrib; ++j)
    std::fprintf(f, " %d", channels[static_cast<size_t>(j)].code);
  std::fprintf(f, "\n");

  auto write_queue = [&](int idx, int length, bool break_after_last) {
    for (int k = 0; k <= ntr; ++k) {
      const std::vector<double>& q = (*queues)[static_cast<size_t>(k)][static_cast<size_t>(idx)];
      if (break_after_last)
        std::fprintf(f, "%d %d (tracer/flow index and tributary subbasin)\n", k, idx);
      else
        std::fprintf(f, "%d %d (tracer/flow index and external inflow)\n", k, idx);
      for (int pos = 1; pos <= length; ++pos) {
        const double v = static_cast<size_t>(pos) < q.size() ? q[static_cast<size_t>(pos)] : 0.0;
        write_state_value(f, v, " ");
        if (pos % VALUES_PER_LINE == 0) std::fprintf(f, "\n");
      }
      if (break_after_last) std::fprintf(f, "\n");
    }
  };
  auto write_subchannels = [&](const reach_channel& ch, int number) {
    for (int e = 1; e <= ch.table.subchannels; ++e) {
      const auto ue = static_cast<size_t>(e);
      for (int m = 1; m <= a; ++m)
        write_state_value(f, ch.state.qaus[ue][static_cast<size_t>(m)], " ");
      std::fprintf(f, " (wqtab[local tributary %d].Qaus[subchannel %d][1..%d])\n", number, e, a);
      write_state_value(f, ch.state.qvzuq[ue], "");
      std::fprintf(f, " (wqtab[local tributary %d].qvzuq[subchannel %d])\n", number, e);
    }
  };

  for (int j = 1; j <= ol + sumtrib; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    const int length = a + ch.table.storage_elements;
    std::vector<int> fed = ch.listed_index;
    fed.push_back(ch.flow_index);
    for (const int idx : fed) {
      write_queue(idx, length, true);
      write_subchannels(ch, j);
      if (!with_records) continue;
      const riverflow_record& rec = (*riverflows)[static_cast<size_t>(idx)];
      for (int k = 0; k <= ntr; ++k) write_state_value(f, rec.flow_mm[k], " ");
      std::fprintf(f, "(riverflow_table[%d].flow_mm[%d])\n", idx, ntr + 1);
      write_state_value(f, rec.flowm3s, " ");
      write_state_value(f, rec.speed, "");
      std::fprintf(f, " (riverflow_table[%d].flowm3s/speed\n", idx);
    }
  }
  for (int e = 1; e <= zl; ++e) {
    const reach_channel& ch = channels[static_cast<size_t>(ol + sumtrib + e)];
    write_queue(ch.flow_index, a + ch.table.storage_elements, false);
    std::fprintf(f, "\n");
    write_subchannels(ch, e);
  }
  std::fprintf(f, "%d (number of reservoirs)\n", reservoir_count());
  for (int r = 1; r <= reservoir_count(); ++r) {
    const std::vector<double>& content = reservoir(r).contents();
    for (int k = 0; k <= ntr; ++k)
      write_state_value(
          f, static_cast<size_t>(k) < content.size() ? content[static_cast<size_t>(k)] : 0.0, " ");
    std::fprintf(f, " (reservoir %d)\n", r);
  }
  std::fprintf(f, "\n\n");
}

void routingclass::read_state(state_reader& in) {
  const int a = time_splitting;
  const bool with_records = riverflows != nullptr && !riverflows->empty();
  part_position p;
  auto fail = [&](const char* what) {
    fail_fatal(*diag, 71, what, in.path(), " (position ", p.lines, ")");
  };
  if (in.read_int("subbasin code") != reach_code) fail("error reading subbasin code in file ");
  in.skip_line();

  auto read_queue = [&](int idx, int length) {
    for (int k = 0; k <= ntr; ++k) {
      ++p.lines;
      const int tracer = in.read_int("tracer code");
      const int index = in.read_int("tributary index");
      in.skip_line();
      if (tracer != k) fail("error reading tracer code in file ");
      if (index != idx) fail("error reading tributary index in file ");
      std::vector<double>& q = (*queues)[static_cast<size_t>(k)][static_cast<size_t>(idx)];
      if (q.size() < static_cast<size_t>(length) + 1)
        q.resize(static_cast<size_t>(length) + 1, 0.0);
      for (int pos = 1; pos <= length; ++pos) q[static_cast<size_t>(pos)] = in.read_double("queue");
    }
  };
  auto read_subchannels = [&](reach_channel& ch) {
    for (int e = 1; e <= ch.table.subchannels; ++e) {
      const auto ue = static_cast<size_t>(e);
      for (int m = 1; m <= a; ++m)
        ch.state.qaus[ue][static_cast<size_t>(m)] = in.read_double("Qaus");
      in.skip_line();
      ch.state.qvzuq[ue] = in.read_double("qvzuq");
      in.skip_line();
      p.lines += 2;
    }
  };

  for (int j = 1; j <= ol + sumtrib; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    const int length = a + ch.table.storage_elements;
    std::vector<int> fed = ch.listed_index;
    fed.push_back(ch.flow_index);
    for (const int idx : fed) {
      read_queue(idx, length);
      read_subchannels(ch);
      if (!with_records) continue;
      riverflow_record& rec = (*riverflows)[static_cast<size_t>(idx)];
      for (int k = 0; k <= ntr; ++k) rec.flow_mm[k] = in.read_double("flow_mm");
      in.skip_line();
      rec.flowm3s = in.read_double("flowm3s");
      rec.speed = in.read_double("speed");
      in.skip_line();
      p.lines += 2;
    }
  }
  for (int e = 1; e <= zl; ++e) {
    reach_channel& ch = channels[static_cast<size_t>(ol + sumtrib + e)];
    read_queue(ch.flow_index, a + ch.table.storage_elements);
    in.skip_line();
    read_subchannels(ch);
  }
  ++p.lines;
  if (in.read_int("reservoir code") != reservoir_count())
    fail("error reading reservoir code in file ");
  in.skip_line();
  for (int r = 1; r <= reservoir_count(); ++r) {
    std::vector<double>& content = reservoir(r).contents();
    if (content.size() < static_cast<size_t>(ntr) + 1)
      content.resize(static_cast<size_t>(ntr) + 1, 0.0);
    for (int k = 0; k <= ntr; ++k) content[static_cast<size_t>(k)] = in.read_double("reservoir");
    in.skip_line();
  }
}
