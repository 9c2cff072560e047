// Look-up tables of the soil layers: water content and relative hydraulic
// conductivity over a fixed list of suctions from the van Genuchten (1980)
// retention curve and Mualem's (1976) conductivity model,
//   Se(h) = (1 + (alpha h)^n)^-m,  theta = theta_r + (theta_s - theta_r) Se,
//   K_r   = Se^tau (1 - (1 - Se^(1/m))^m)^2,
// and, for frozen soil, the unfrozen water fraction over temperature with its
// slope and a freezing-point shift over the relative saturation. The
// look-ups themselves are operations of soil_entry (soiltable.h).
#pragma once

#include <array>
#include <vector>

#include "tables/soiltable.h"

// Suctions of the hydraulic tables [m of water column]: entries 1..30, entry
// 0 unused.
constexpr std::array<double, SOIL_TABLE_STEPS + 1> SOIL_TABLE_SUCTIONS = {
    0,   0,   0.0005, 0.001, 0.002, 0.005, 0.007, 0.01, 0.02, 0.03, 0.05, 0.07, 0.1, 0.15, 0.2, 0.3,
    0.4, 0.6, 0.8,    1.2,   1.6,   2.6,   3.45,  6.9,  20,   35,   50,   75,   100, 125,  150};

// Bisection over the entries 1..30 of a table falling with the index: the
// largest j with table[j] > x (the caller has made sure table[1] > x >=
// table[30]).
int falling_table_index(const std::vector<double>& table, double x);
