// Heat values of a soil type that the soil table leaves open: a negative
// dry density, heat capacity, thermal conductivity or minimum conductivity
// of frozen soil takes the heat model's default, and the freezing tables of
// every layer are built with its scale.
#pragma once

struct soil_entry;
struct unsatzon_parameters;

void complete_soil_heat_values(soil_entry& soil, const unsatzon_parameters& p);
