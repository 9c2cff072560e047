// What the channel-routing tests share: a zone table of a few subbasins, the
// text of a "[routing_model]" section with its "[output_interval]", and the
// module built from them in a scratch folder.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "routing/abfluss.h"
#include "routing/channel_tables.h"
#include "soilwater/module_fixture.h"

// Subbasins with codes (ascending) and area shares; entry 0 the basin area.
struct routing_zones {
  std::vector<int> index;
  std::vector<zone_record> records;
  zone_table_view view;
  routing_zones(const std::vector<int>& codes, const std::vector<double>& shares,
                double basin_area_km2) {
    index.assign(static_cast<size_t>(codes.back()) + 1, 0);
    records.assign(codes.size() + 1, zone_record{});
    records[0].share = basin_area_km2;
    for (size_t i = 0; i < codes.size(); ++i) {
      index[static_cast<size_t>(codes[i])] = static_cast<int>(i) + 1;
      records[i + 1].code = codes[i];
      records[i + 1].share = shares[i];
    }
    view = zone_table_view{&index, &records, static_cast<int>(codes.size()), codes.back()};
  }
};

// Ten channel values after their labels; hm = bank-full depth.
inline std::string channel_values(double km = 2, double kf = 4, double hm = 1000,
                                  double length = 10000, double area = 20) {
  char text[256];
  std::snprintf(text, sizeof text,
                "(km= %g, kf= %g, bm= 10, bf= 50, hm= %g, kstm= 30, kstf= 15, I= 0.001, "
                "L= %.17g, A= %g)",
                km, kf, hm, length, area);
  return text;
}

struct routing_section {
  int flow_control = 1;
  int dt = 60;                      // [min]
  std::string range = "1 3000 40 1";  // qmin qmax intervals time splitting
  std::string qstat = "qstat.txt 2001";
  std::string observed = "no_such_file.txt";
  std::vector<std::pair<int, int>> columns;  // subbasin code, file column
  int offset = 0;
  std::vector<std::string> descriptions;     // lines
  int unit = 0;

  std::string text() const {
    std::string t = "[routing_model]\n" + std::to_string(flow_control) +
                    " flow control parameter for\n" + std::to_string(dt) +
                    " time interval for\n" + range + "\n" + qstat +
                    " name of the Qstatfiles for\n" + observed +
                    " name of " + SPECIFIC_SHORT + "discharge files for\n" + std::to_string(columns.size()) +
                    " number column descriptors for\n";
    for (const auto& [code, column] : columns)
      t += std::to_string(code) + " " + std::to_string(column) + "\n";
    t += std::to_string(offset) + " offset of the comparison\n";
    for (const std::string& line : descriptions) t += line + "\n";
    t += "end of the descriptions\n[output_interval]\n1\n2\n" + std::to_string(unit) +
         " output unit\n";
    return t;
  }
};

struct routing_fixture {
  module_fixture f;
  routing_zones zones;
  subbasin_flow_arrays qg;
  std::unique_ptr<abflussmodellklasse> module;
  int status = -1;

  explicit routing_fixture(routing_zones z) : zones(std::move(z)) {
    zones.view.zone_index = &zones.index;
    zones.view.zones = &zones.records;
    f.settings.start_date = model_date{2000, 1, 1, 0};
  }

  // Builds the module from the section; status keeps its result.
  abflussmodellklasse& build(const routing_section& s, int tracer_count = 0,
                             tracer_entry* tracers = nullptr, int readgrid = 0) {
    f.write_control(s.text());
    module = std::make_unique<abflussmodellklasse>(status, f.diag(), nullptr, 0, "routing_model",
                                                   &f.store, f.settings, tracer_count, tracers,
                                                   zones.view, readgrid);
    qg = make_flow_arrays(tracer_count, zones.view.zone_count);
    return *module;
  }
  // set_qg and init_routing; the code thrown, or 0.
  int start() {
    try {
      module->set_qg(&qg);
      module->init_routing();
    } catch (int code) {
      return code;
    }
    return 0;
  }
  void write(const std::string& name, const std::string& text) { f.cd.dir.write(name, text); }
};

// Whether the console holds message; the console shows entries without
// their level word, so a leading "FATAL: ", "INFO: " or "WARNING: " is
// dropped from message.
inline bool logged(const std::string& console, std::string message) {
  for (const char* level : {"FATAL: ", "INFO: ", "WARNING: "})
    if (message.rfind(level, 0) == 0) message.erase(0, std::string(level).size());
  return console.find(message) != std::string::npos;
}

// An hourly table of dated rows from 2000-01-01 0 h: one value per row.
inline std::string hourly_table(const std::vector<double>& values) {
  std::string t = "YY MM DD HH Q\n";
  for (size_t i = 0; i < values.size(); ++i) {
    char line[96];
    const int hour = static_cast<int>(i) % 24;
    const int day = 1 + static_cast<int>(i) / 24;
    std::snprintf(line, sizeof line, "2000 1 %d %d %.10g\n", day, hour, values[i]);
    t += line;
  }
  return t;
}
