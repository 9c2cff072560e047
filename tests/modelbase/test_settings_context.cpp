// A model object keeps a reference to the settings it is built with and
// starts its grid frame from them; one built without a run's settings refers
// to the one empty default.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "support/test_support.h"

namespace {

// A model object that shows its frame.
class framed_object : public modelobject {
 public:
  using modelobject::modelobject;
  std::vector<double> geometry() const {
    return {double(ncols), double(nrows), double(first_row), double(last_row),
            xllcorner,     yllcorner,     cellsize,          nodata};
  }
  const std::vector<int>* zone_index_read() const { return zone_index; }
  const std::vector<zone_record>* zones_read() const { return zones; }
  int zone_count_read() const { return zone_count; }
  int max_zone_code_read() const { return max_zone_code; }
  const std::vector<row_strip>* strips_read() const { return strips; }
  const std::vector<int>& selected_read() const { return selected_zones; }
  int selected_count_read() const { return selected_zone_count; }
  double min_to_int_end_read() const { return min_to_int_end; }
  int ascii_read() const { return write_ascii_grids; }
  int double_read() const { return write_double_grids; }
  const std::string* input_read() const { return input_directory; }
  const std::string* output_read() const { return output_directory; }
  const std::vector<halo_run>* send_read() const { return halo_send; }
  const std::vector<halo_run>* receive_read() const { return halo_receive; }
};

TEST(SettingsContext, AModelObjectStartsItsFrameFromTheSettingsItReferences) {
  captured_diag cd;
  std::vector<int> zone_index{0, 0, 0, 1, 0, 2};
  std::vector<zone_record> zones(3);
  std::vector<row_strip> strips(6);
  std::vector<halo_run> send(1), receive(2);
  const std::string in = "in/", out = "out/";
  settings_context s;
  s.control_file = cd.dir.file("run.ctl.$$$");
  s.ncols = 4;
  s.nrows = 5;
  s.first_row = 2;
  s.last_row = 4;
  s.xllcorner = 1000;
  s.yllcorner = 2000;
  s.cellsize = 25;
  s.nodata = -1;
  s.zone_table = zone_table_view{&zone_index, &zones, 2, 5};
  s.strips = &strips;
  s.selected_codes = {2, 3, 5};
  s.min_to_int_end = 30;
  s.output_control = 6;
  s.write_ascii_grids = 1;
  s.write_double_grids = 1;
  s.input_directory = &in;
  s.output_directory = &out;
  s.halo_send = &send;
  s.halo_receive = &receive;
  s.end_date = model_date{2001, 12, 31, 23};

  framed_object o(cd.diag.get(), s.control_file, s);
  EXPECT_EQ(&o.settings(), &s);  // referenced, not copied
  EXPECT_EQ(o.control_file_name(), s.control_file);
  EXPECT_EQ(o.geometry(), (std::vector<double>{4, 5, 2, 4, 1000, 2000, 25, -1}));
  EXPECT_EQ(o.zone_index_read(), &zone_index);
  EXPECT_EQ(o.zones_read(), &zones);
  EXPECT_EQ(o.zone_count_read(), 2);
  EXPECT_EQ(o.max_zone_code_read(), 5);
  EXPECT_EQ(o.strips_read(), &strips);
  EXPECT_EQ(o.selected_read(), (std::vector<int>{2, 3, 5}));
  EXPECT_EQ(o.selected_count_read(), 2);
  EXPECT_EQ(o.min_to_int_end_read(), 30);
  EXPECT_EQ(o.get_report_interval(), 6);
  EXPECT_EQ(o.ascii_read(), 1);
  EXPECT_EQ(o.double_read(), 1);
  EXPECT_EQ(o.input_read(), &in);
  EXPECT_EQ(o.output_read(), &out);
  EXPECT_EQ(o.send_read(), &send);
  EXPECT_EQ(o.receive_read(), &receive);
  // The end date's key orders like the date: one hour later is one more.
  EXPECT_EQ(o.end_time_key(), time_key(2001, 12, 31, 23));
  EXPECT_EQ(o.end_time_key() + 1, time_key(2001, 12, 31, 24));
}

TEST(SettingsContext, WithoutSettingsAnObjectRefersToTheEmptyDefault) {
  captured_diag cd;
  framed_object a(cd.diag.get(), "a.ctl");
  framed_object b(cd.diag.get(), "b.ctl");
  EXPECT_EQ(&a.settings(), &no_settings());
  EXPECT_EQ(&b.settings(), &a.settings());
  EXPECT_EQ(a.control_file_name(), "a.ctl");
  EXPECT_EQ(a.geometry(), (std::vector<double>{0, 0, 0, 0, 0, 0, 0, NODATA}));
  EXPECT_EQ(a.zone_index_read(), nullptr);
  EXPECT_EQ(a.selected_read(), (std::vector<int>{0}));
  EXPECT_EQ(a.output_read(), nullptr);
  EXPECT_EQ(a.end_time_key(), 0);
  EXPECT_EQ(no_settings().control_file, "");
  EXPECT_EQ(no_settings().landuse_table, nullptr);
  EXPECT_EQ(no_settings().hru_list, nullptr);
}

}  // namespace
