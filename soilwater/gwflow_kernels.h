// Per-cell and per-face kernels of the groundwater module: vertical leakage
// between stacked layers, the Dupuit transmissivity of a cell and the
// harmonic mean across a face, the implicit/explicit five-point update of
// one cell (alpha-weighted finite differences of the storage equation
// S dh/dt = div(T grad h) + sources), the adaptive over-relaxation factor,
// the tridiagonal solve of one row run, specific discharges, the balance
// residual and the upwind mixing of tracer mass. No grids, no I/O.
#pragma once

#include <cstdint>
#include <string>

// The file name of the previous heads: "a.b.c" gives "a.b_old.c", a name
// without "." gets "_old" appended.
std::string old_head_file_name(const std::string& head_file);

// Rows of the control-point buffer: 2097152 bytes of rows of 48 N + 40
// bytes, at least one.
int64_t control_point_capacity(int layers);
constexpr int64_t CONTROL_POINT_BUFFER_BYTES = 2097152;  // [bytes]
constexpr double CONTROL_POINT_OUTSIDE = -8888;          // value of a neighbour outside the grid

// Leakage of layer j towards the layer below: the head difference, clipped to
// one metre, times the colmation coefficient; with an unconfined lower layer
// below a higher upper head the difference is measured to its top.
// [m s-1], positive upward into layer j.
double leakage_rate(double h_upper, double h_lower, double z_lower, double colmation) noexcept;

// Transmissivity of one cell [m2 s-1]: k b when confined, otherwise
// k (h - z + b_eff) (the saturated part of the effective thickness).
// conductivity [m s-1], head, top [m], b_full, b_eff [m].
double cell_transmissivity(double conductivity, double head, double top, double b_full,
                           double b_eff, bool confined) noexcept;

// The face between a cell c and its east or south neighbour n.
struct face_cells {
  double t_c = 0;     // [m2 s-1] transmissivity of c
  double t_n = 0;     // [m2 s-1] transmissivity of n (0 when not computed)
  double h_c = 0;     // [m] heads
  double h_n = 0;
  double k_c = 0;     // [m s-1] conductivities along the face direction
  double k_n = 0;
  double g_c = 0;     // [-] glacier fractions
  double g_n = 0;
  bool admitted = false;  // n exists and may exchange with c
};
// The dry-cell rule (a dry cell next to a higher wet one takes the wet
// one's transmissivity) and the harmonic mean of both sides. [m2 s-1]
double face_transmissivity(face_cells f) noexcept;

// One cell of a sweep of method 1.
struct sor_cell_input {
  double v[4] = {0, 0, 0, 0};  // [m] neighbour values (1 - a) h0 + a h, N E S W
  double c[4] = {0, 0, 0, 0};  // [m2 s-1] conductances N E S W
  double h0 = 0;               // [m] head at the start of the sub-step
  double storage = 0;          // [-] storage coefficient in use
  double source = 0;           // [m s-1] S/dt h0 + leakage in - leakage out + fixed inflow
  double area = 0;             // [m2]
  double dt = 0;               // [s]
  double alpha = 1;            // [-] weight of the new neighbour heads
};
// The head that satisfies the cell's discrete equation. [m] Inline: it is
// the inner work of every sweep.
inline double sor_new_head(const sor_cell_input& in) noexcept {
  double weighted = 0;
  double conductance = 0;
  for (int n = 0; n < 4; ++n) {
    weighted += in.c[n] * in.v[n];
    conductance += in.c[n];
  }
  return (weighted - (1 - in.alpha) * in.h0 * conductance + in.source * in.area) /
         (in.area * in.storage / in.dt + in.alpha * conductance);
}

// The adaptive relaxation factor from the change delta, the current head h
// and the head before the last relaxed update hq: in [1, 2]. [-]
double adaptive_relaxation(double delta, double h, double hq) noexcept;

// Solves the tridiagonal system of n equations a x[i-1] + d x[i] + u x[i+1] = w
// (a[0] and u[n-1] unused) by elimination and back substitution; d and w are
// overwritten.
void solve_tridiagonal(const double* a, double* d, const double* u, double* w, double* x, int n);

// Specific discharge from c to its neighbour: (h_c - h_n) k / width. [m s-1]
double specific_discharge(double h_c, double h_n, double conductivity, double width) noexcept;

// A cell's exchanges over a sub-step and what it holds. [m3], positive into the cell.
struct cell_volumes {
  double lateral = 0;  // I_N + I_E + I_S + I_W
  double up = 0;       // from the layer above
  double down = 0;     // from the layer below
  double stored = 0;   // V_s
};
// The stored volume S_1 A max(0, m), m the saturated thickness at the start. [m3]
double stored_volume(double storage_1, double area, double thickness, double h0,
                     double top) noexcept;
// The residual of the sub-step: storage change minus the exchanges. [mm]
double balance_residual(double h, double h0, double storage_k, const cell_volumes& v,
                        double area) noexcept;
// The concentration of mixed water: mass over volume, 0 without water.
double mixed_concentration(double mass, double volume) noexcept;

// A change that reverses the previous one by more than eps both times.
bool oscillates(double change_prev, double change_now, double eps) noexcept;
