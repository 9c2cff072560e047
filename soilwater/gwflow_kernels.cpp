#include "soilwater/gwflow_kernels.h"

#include <algorithm>
#include <cmath>

std::string old_head_file_name(const std::string& head_file) {
  const size_t dot = head_file.rfind('.');
  if (dot == std::string::npos) return head_file + "_old";
  return head_file.substr(0, dot) + "_old" + head_file.substr(dot);
}

int64_t control_point_capacity(int layers) {
  const int64_t row_bytes = 48 * static_cast<int64_t>(std::max(layers, 0)) + 40;
  return std::max<int64_t>(1, CONTROL_POINT_BUFFER_BYTES / row_bytes);
}

double leakage_rate(double h_upper, double h_lower, double z_lower, double colmation) noexcept {
  double d = std::clamp(h_lower - h_upper, -1.0, 1.0);
  if (h_upper >= h_lower && h_lower < z_lower) d = std::clamp(z_lower - h_upper, -1.0, 0.0);
  return d * colmation;
}

double cell_transmissivity(double conductivity, double head, double top, double b_full,
                           double b_eff, bool confined) noexcept {
  if (confined) return conductivity * b_full;
  return conductivity * (head - top + b_eff);
}

double face_transmissivity(face_cells f) noexcept {
  if (f.t_c <= 0 && f.t_n > 0 && f.h_c < f.h_n && f.k_c > 0 && f.g_c == 0) f.t_c = f.t_n;
  if (f.t_n <= 0 && f.admitted)
    f.t_n = (f.t_c > 0 && f.h_c > f.h_n && f.k_n > 0 && f.g_n == 0) ? f.t_c : 0;
  const double sum = f.t_c + f.t_n;
  return sum > 0 ? 2 * f.t_c * f.t_n / sum : 0;
}

double adaptive_relaxation(double delta, double h, double hq) noexcept {
  if (h == hq) return 1;
  double f = 1 + delta / (h - hq);
  if (f <= 0) f = 1;
  return std::min(f, 2.0);
}

void solve_tridiagonal(const double* a, double* d, const double* u, double* w, double* x,
                       int n) {
  if (n <= 0) return;
  for (int i = 1; i < n; ++i) {
    const double m = a[i] / d[i - 1];
    d[i] -= u[i - 1] * m;
    w[i] -= m * w[i - 1];
  }
  x[n - 1] = w[n - 1] / d[n - 1];
  for (int i = n - 2; i >= 0; --i) x[i] = (w[i] - u[i] * x[i + 1]) / d[i];
}

double specific_discharge(double h_c, double h_n, double conductivity, double width) noexcept {
  return (h_c - h_n) * conductivity / width;
}

double stored_volume(double storage_1, double area, double thickness, double h0,
                     double top) noexcept {
  const double m = h0 >= top ? thickness : thickness + (h0 - top);
  return storage_1 * area * std::max(0.0, m);
}

double balance_residual(double h, double h0, double storage_k, const cell_volumes& v,
                        double area) noexcept {
  const double exchanged = v.lateral + v.up + v.down;
  return ((h - h0) * storage_k - exchanged / area) * 1000;
}

double mixed_concentration(double mass, double volume) noexcept {
  return volume > 0 ? mass / volume : 0;
}

bool oscillates(double change_prev, double change_now, double eps) noexcept {
  return (change_prev > eps && change_now < -eps) || (change_prev < -eps && change_now > eps);
}
