// Per-cell kernels of the surface routing: the kind, slope and aspect of a
// cell, the division of its outflow over the eight neighbours (aspect
// sectors after O'Callaghan & Mark 1984 with an angular split where the plan
// curvature of Zevenbergen & Thorne 1987 is not convergent, otherwise by
// drop), the flow velocity per direction by Manning-Strickler
// v = K h^(2/3) sqrt(S) with friction of the plain surface, of crop residues
// or of standing crop stems (Darcy-Weisbach drag), and the rules of the
// internal step length. Directions are numbered clockwise from north, 1 N to
// 8 NW; index 0 of a 9-element array is the cell itself.
#pragma once

namespace surfrout {

constexpr int DIRECTIONS = 8;
constexpr int STACK_LEVELS = 9;  // levels 0..9 of the three stacks
constexpr int ROW_OFFSET[9] = {0, -1, -1, 0, 1, 1, 1, 0, -1};
constexpr int COL_OFFSET[9] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
constexpr double DIAGONAL = 1.4142135;    // [-] diagonal length / cell size
constexpr double SLOPE_DIAGONAL = 1.414;  // [-] the same in the aspect gradients
constexpr double DEGREES_PER_RADIAN = 57.29577951307855;
constexpr double RADIANS_PER_DEGREE = 0.017453;  // [rad deg-1] of the angular split
constexpr double MANNING_EXPONENT = 0.66667;     // [-] 2/3
constexpr double THIRD = 0.3333;                 // [-] 1/3 in the crop friction
constexpr double GRAVITY = 9.8159;               // [m s-2]
constexpr double EIGHT_G = 78.5272;              // [m s-2] 8 g
constexpr double RHO_G = 9815;                   // [N m-3] shear stress
constexpr double MIN_FLOW_DEPTH = 0.0001;        // [m] shallower flow does not move
constexpr double START_VELOCITY = 0.1;           // [m s-1] of a direction without one
constexpr double MIN_DROP = 0.00001;             // [m] of the drop division
constexpr double MIN_CFL_WEIGHT = 0.0001;        // [-]
constexpr double MIN_CFL_VELOCITY = 0.00001;     // [m s-1]
constexpr double NO_CFL_LIMIT = 1e36;            // [s]
constexpr double UNCHANGED_WEIGHT = 0.01;        // [-]

constexpr int opposite(int d) { return d <= 4 ? d + 4 : d - 4; }
constexpr bool diagonal(int d) { return d % 2 == 0; }

// The 3 x 3 neighbourhood of a cell.
struct SurfaceBlock {
  double z[9] = {};       // [m] terrain height (unused where not valid)
  double h[9] = {};       // [m] depth counted in slopes: 0 for terrain methods and
                          //     for neighbours without a zone code above 0
  bool valid[9] = {};     // neighbour inside the grid with a zone value not nodata
  bool positive[9] = {};  // neighbour inside the grid with a zone value above 0
};

// Kind 1 river, 2 interior, 3 other.
struct SlopeAspect {
  double slope = 0;   // [-] largest gradient
  double aspect = 0;  // [deg] clockwise from north
  int kind = 0;
};

// interior: 2 <= row <= nrows - 1, 2 <= col <= ncols - 1 and every neighbour
// with a zone value above 0.
SlopeAspect slope_aspect_of(const SurfaceBlock& b, bool river, bool interior, double cs);

struct WeightsInput {
  int method = 1;  // 1..5
  int kind = 3;
  double slope = 0;           // [-]
  double aspect = 0;          // [deg]
  double plan_curvature = 0;  // [m-1]
  int pass = 0;               // routing pass of the current call
  double storage_mm = 0;      // [mm] "SurfStorSiltingUp"
};

// Writes levels 0..8 of the weights (level 0 the count of directions that
// changed by at most 0.01 since the last pass, 0 on the first), levels 0
// (main direction) and 9 (water surface [m]) of the velocities; returns the
// kind, 3 when a cell of kind 2 found no downhill aspect direction. Not for
// river cells (kind 1), which keep their weights.
int direction_weights_of(const WeightsInput& in, const SurfaceBlock& b, double* weights,
                         double* velocity);

struct FlowParams {
  int method = 1;
  double cs = 0;     // [m] cell size
  double s_min = 0;  // [s] minimum internal step
  double s_max = 0;  // [s] maximum internal step
  double eps_v = 0;  // [m s-1] velocity iteration
  int n_v = 0;
  double eps_a = 0;  // [m] wake length iteration
  int n_a = 0;
  double h_crop = 0;         // [m] depth from which crop stems count
  double concentration = 1;  // [-] flow concentration factor
};

// Friction of a cell's land-use class for the step.
struct Friction {
  bool has_class = false;    // false: the cell has no land-use class (K = 0)
  int cultivation = 0;       // 1 crop residue, 2 standing crop, else plain
  double k_st = 0;           // [m^(1/3) s-1] Strickler value of the surface
  double rough1[3] = {};     // a, b, e for Re < 20000
  double rough2[3] = {};     // a, b, e for Re >= 20000
  double stem_diameter = 0;  // [m]
  double crop_dist_x = 0;    // [m]
  double crop_dist_y = 0;    // [m]
  double c_wr = 0;           // [-] drag coefficient at high stem Reynolds numbers
  double cover = 0.5;        // [-] residue cover
};

// Strickler coefficient [m^(1/3) s-1] for velocity v [m s-1], depth h [m] and
// s the square root of the slope. Always finite and not negative: a residue
// cover of 0 (no residue) or a depth of 0 gives the surface's own value.
double strickler_of(const Friction& f, const FlowParams& p, double v, double h, double s);

struct VelocityCell {
  int kind = 3;
  int pass = 0;
  int recompute = 0;
  double depth = 0;             // [m] water depth of the cell
  double critical_shear = 0.9;  // [N m-2]
  double area = 0;              // [m2] E x F: the outflow of an internal step never
                                //      exceeds what the cell holds
  double longest_step = 0;      // [s] no internal step is longer
};

// Velocities (levels 1..8 [m s-1]) and discharges (levels 0..8 [m3 s-1],
// level 0 that of the main direction, velocity level 0) of one cell. A cell
// whose weights did not change keeps its discharges except on the first
// pass and the recompute pass. The total outflow is bounded by
// area x depth / longest_step.
void cell_flows_of(const FlowParams& p, const Friction& f, const VelocityCell& cell,
                   const SurfaceBlock& b, const double* weights, double* velocity, double* flux);

// A bound of the internal step made a whole fraction of the sub-step
// [s]: S / int(S / bound), S when that is 0 or the bound is not positive.
double adjusted_step_bound(double bound, double substep_seconds);

struct InternalSteps {
  double length = 0;  // [s]
  int foreseen = 0;   // N
  int recompute = 0;  // R
};
// S = dt / (int(dt / T) + 1) within [S_min, S_max]; a limit that is not
// positive gives S_min.
InternalSteps internal_steps(double dt_sub, double cfl_limit, double s_min, double s_max);

// Plan curvature of a 3 x 3 block of heights z (direction order), g the
// cell size; nodata when one height is nodata.
double plan_curvature_of(const double* z, double g, double nodata);

}  // namespace surfrout
