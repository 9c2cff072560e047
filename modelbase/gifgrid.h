// GIF images read as grids: the image's pixels are classes of a measured
// quantity. The image is decoded (GIF87a/GIF89a, LZW through giflib) into a
// raster of class indices, resampled bilinearly onto the model grid through
// the image's georeference, and each class is turned into a value by a
// two-branch exponential rule.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/gridfile_format.h"
#include "modelbase/matrices.h"

// A decoder error; read_grid reports its text with code 22.
struct gif_decode_error {
  std::string text;
};

constexpr unsigned char GIF_NODATA_CLASS = 255;  // pixel index that means nodata

// Class indices in the image's own raster: rows 1..height from the top,
// columns 1..width, one byte per pixel; index 255 reads as -9999.
struct gif_raster {
  gif_raster() = default;
  gif_raster(int height_, int width_)
      : width(width_),
        height(height_),
        pixels(static_cast<size_t>(height_) * static_cast<size_t>(width_), 0) {}
  unsigned char& pixel(int row, int col) {
    return pixels[static_cast<size_t>(row - 1) * static_cast<size_t>(width) +
                  static_cast<size_t>(col - 1)];
  }
  double at(int row, int col) const {
    const unsigned char p = pixels[static_cast<size_t>(row - 1) * static_cast<size_t>(width) +
                                   static_cast<size_t>(col - 1)];
    return p == GIF_NODATA_CLASS ? NODATA : static_cast<double>(p);
  }
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

// The most pixels that the LZW data in a file of file_bytes bytes can hold:
// a code takes at least 2 bits, and the k-th code after a clear stands for at
// most k pixels (never more than the 4096 of a full code table).
long long gif_max_pixels(long long file_bytes);

class GifReader {
 public:
  explicit GifReader(std::string path) : path_(std::move(path)) {}
  // Width and height of the logical screen; an error when the screen has
  // more cells than the file's data can fill, so that a few bytes cannot make
  // the caller allocate gigabytes.
  void read_header(int& width, int& height);
  // Decodes every image of the file into raster, which must have the size of
  // the logical screen. The pixels of an image go in data order, row by row
  // as wide as the screen, from row 1, column 1; image position and interlace
  // are not applied; a later image overwrites an earlier one. An image that
  // does not lie inside the screen is an error.
  void decode(gif_raster& raster);

 private:
  std::string path_;
};

// Where the image lies in the model's coordinates.
struct gif_georeference {
  double x_origin = 0;                // western edge of the image
  double y_origin = 0;                // southern edge of the image
  double cellsize = 0;                // cell size of the image
  const grid_matrix* mask = nullptr;  // model cells of -9999 or less take the mask's value
};

// The class-to-value rule: 0 stays 0; up to threshold f1 exp(x1 v); up to 250
// f2 exp(x2 v); above 250 nodata.
struct gif_mapping {
  double f1 = 0;
  double x1 = 0;
  int threshold = 0;
  double f2 = 0;
  double x2 = 0;
};

// The class index at the lower-left corner of model cell (row, col).
double gif_class_at_cell(const gif_raster& raster, const gif_georeference& geo,
                         const grid_measures& model, int row, int col);

// Every cell of grid (rows and columns 1..nrows, 1..ncols) from the raster.
void resample_gif_to_grid(const gif_raster& raster, const gif_georeference& geo,
                          const grid_measures& model, grid_matrix& grid);

double gif_class_to_value(double value, const gif_mapping& mapping);

// The rule applied to every cell above -9999.
void map_gif_classes(grid_matrix& grid, int nrows, int ncols, const gif_mapping& mapping);
