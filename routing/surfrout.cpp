// The cell helpers of the surface routing and its small interface
// operations: the sub-step dispatch and the setters of the wiring.
#include "routing/surfrout.h"

#include <algorithm>

#include "modelbase/diagstream.h"
#include "tables/landuse.h"

bool surfaceroutingclass::inside(int row, int col) const {
  return row >= 1 && row <= nrows && col >= 1 && col <= ncols;
}

bool surfaceroutingclass::own_cell(int row, int col) const {
  if (!inside(row, col) || (*zone_grid)[row] == nullptr || (*zone_grid)[row][col] == nodata)
    return false;
  return mpi_regions == nullptr || (*mpi_regions)[row][col] == rank;
}

bool surfaceroutingclass::river_cell(int row, int col) const {
  return (*in.river_width)[row][col] > 0 && (*in.river_depth)[row][col] > 0;
}

int surfaceroutingclass::subbasin_of(int row, int col) const {
  const double code = (*zone_grid)[row][col];
  if (code < 0 || code >= static_cast<double>(zone_index->size())) return 0;
  return (*zone_index)[static_cast<size_t>(code)];
}

double surfaceroutingclass::cell_area(int row, int col) const {
  if (in.cell_size_x != nullptr && in.cell_size_y != nullptr)
    return (*in.cell_size_x)[row][col] * (*in.cell_size_y)[row][col];
  return cellsize * cellsize;
}

double surfaceroutingclass::cell_weight(int row, int col) const {
  return rel_cell_area != nullptr ? (*rel_cell_area)[row][col] : 1.0;
}

surfrout::SurfaceBlock surfaceroutingclass::block_of(int row, int col, bool water_surface) const {
  surfrout::SurfaceBlock b;
  const grid_matrix& z = *in.elevation;
  const grid_matrix& head = *own[HEAD].used;
  b.z[0] = z[row][col];
  b.h[0] = water_surface ? head[row][col] : 0;
  for (int d = 1; d <= surfrout::DIRECTIONS; ++d) {
    const int r = row + surfrout::ROW_OFFSET[d];
    const int c = col + surfrout::COL_OFFSET[d];
    if (!inside(r, c)) continue;
    const double zone = (*zone_grid)[r][c];
    b.valid[d] = zone != nodata;
    b.positive[d] = zone > 0;
    b.z[d] = z[r][c];
    b.h[d] = water_surface && b.positive[d] ? head[r][c] : 0;
  }
  return b;
}

surfrout::FlowParams surfaceroutingclass::flow_params() const {
  surfrout::FlowParams p;
  p.method = method;
  p.cs = cellsize;
  p.s_min = s_min;
  p.s_max = s_max;
  p.eps_v = eps_v;
  p.n_v = n_v;
  p.eps_a = eps_a;
  p.n_a = n_a;
  p.h_crop = h_crop;
  p.concentration = concentration;
  return p;
}

surfrout::Friction surfaceroutingclass::friction_of(int code, int row, int col) const {
  surfrout::Friction f;
  const auto* table = settings().landuse_table;
  if (table == nullptr || code < 1 || code >= static_cast<int>(table->size())) return f;
  const landuse_entry& e = (*table)[static_cast<size_t>(code)];
  f.has_class = true;
  f.cultivation = e.get_sr_cultivation();
  f.k_st = e.get_sr_k_st();
  e.get_sr_rough_coeff1(f.rough1[0], f.rough1[1], f.rough1[2]);
  e.get_sr_rough_coeff2(f.rough2[0], f.rough2[1], f.rough2[2]);
  f.crop_dist_x = e.get_sr_crop_dist_x();
  f.crop_dist_y = e.get_sr_crop_dist_y();
  f.c_wr = e.get_sr_c_wr();
  if (f.cultivation == 1 || f.cultivation == 2) {
    const double altitude = (*in.elevation)[row][col];
    const int day = static_cast<int>(cur_day);
    const int month = static_cast<int>(cur_month);
    const int year = static_cast<int>(cur_year);
    f.cover = e.sr_resid_covrg_at_date(*diag, day, month, year, layer_count, row, col, altitude);
    if (f.cultivation == 2)
      f.stem_diameter =
          e.sr_stem_diameter_at_date(*diag, day, month, year, layer_count, row, col, altitude);
  }
  return f;
}

void surfaceroutingclass::set_substeps(int count) { substeps = count; }

void surfaceroutingclass::run_substep(const model_date& step, int) {
  time_step(step.hour, step.day, step.month, step.year);
}

subbasin_flow_arrays* surfaceroutingclass::get_qg() {
  if (flow_control == 0) return nullptr;
  if (!flow_arrays_ready)
    fail_fatal(*diag, 57,
               "Qg (surface routing) not initialized (may be, tracer module "
               "not linked? -> "
               "programmers error!)");
  if (qg.empty() || qg[0].empty())
    fail_fatal(*diag, 57,
               "Qg[0] (surface routing) not initialized (may be, tracer module "
               "not linked? -> "
               "programmers error!)");
  return &qg;
}

void surfaceroutingclass::set_qbb(subbasin_flow_arrays* qbb_in) {
  if (flow_control == 0) return;
  // Without the unsaturated zone's base flow no Qg can be formed.
  if (qbb_in == nullptr || qbb_in->empty())
    fail_fatal(*diag, 57,
               "QBb (unsaturated zone) not initialized: surface routing needs "
               "the base flow of "
               "an active unsaturated-zone module");
  qbb = qbb_in;
}

void surfaceroutingclass::set_qi(subbasin_flow_arrays* qi_in) {
  if (flow_control != 0 && qi_in != nullptr) qi = qi_in;
}

void surfaceroutingclass::set_qd(subbasin_flow_arrays* qd_in) {
  if (flow_control != 0 && qd_in != nullptr) qd = qd_in;
}

void surfaceroutingclass::set_kelsqd(std::vector<double>* kelsqd_in) {
  if (flow_control != 0) kelsqd = kelsqd_in;
}

void surfaceroutingclass::set_kelsqi(std::vector<double>* kelsqi_in) {
  if (flow_control != 0) kelsqi = kelsqi_in;
}

surfrout::SlopeAspect surfaceroutingclass::cell_slope_aspect(int row, int col) {
  const surfrout::SurfaceBlock b = block_of(row, col, method >= 3 && method <= 5);
  bool interior = row >= 2 && row <= nrows - 1 && col >= 2 && col <= ncols - 1;
  for (int d = 1; interior && d <= surfrout::DIRECTIONS; ++d) interior = b.positive[d];
  return surfrout::slope_aspect_of(b, river_cell(row, col), interior, cellsize);
}

void surfaceroutingclass::direction_weights(int row, int col, int& kind, int pass, double slope,
                                            double aspect) {
  if (kind == 1) return;
  surfrout::WeightsInput w;
  w.method = method;
  w.kind = kind;
  w.slope = slope;
  w.aspect = aspect;
  w.plan_curvature = (*own[PLANCURVATURE].used)[row][col];
  w.pass = pass;
  w.storage_mm = (*in.storage)[row][col];
  kind =
      surfrout::direction_weights_of(w, block_of(row, col, method >= 3 && method <= 5),
                                     own[WEIGHTS].stack[row][col], own[VELOCITY].stack[row][col]);
}

void surfaceroutingclass::cell_velocity(int row, int col, int pass, int recompute, int kind) {
  surfrout::VelocityCell cell;
  cell.kind = kind;
  cell.pass = pass;
  cell.recompute = recompute;
  cell.depth = (*own[HEAD].used)[row][col];
  cell.critical_shear = (*own[CRITICAL_SHEAR].used)[row][col];
  cell.area = cell_area(row, col);
  cell.longest_step = std::max(s_min, s_max);
  surfrout::cell_flows_of(flow_params(), friction_of(landuse_code(row, col), row, col), cell,
                          block_of(row, col, method >= 3 && method <= 5),
                          own[WEIGHTS].stack[row][col], own[VELOCITY].stack[row][col],
                          own[FLUXES].stack[row][col]);
}

double surfaceroutingclass::strickler_coefficient(int row, int col, int code, int cultivation,
                                                  double v, double h, double cover, double s) {
  surfrout::Friction f = friction_of(code, row, col);
  f.cultivation = cultivation;
  f.cover = cover;
  return surfrout::strickler_of(f, flow_params(), v, h, s);
}
