// The state of one output file written band after band by process 0. A
// failure is kept, not thrown, until every band has been loaded: the
// processes that send a gathered band wait for it to be taken.
#pragma once

#include <exception>
#include <optional>

#include "modelbase/gridfile_format.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"

struct banded_output {
  std::exception_ptr failure;
  // Declared before the stream, so that the stream is closed before the
  // temporary is removed on a failure.
  std::optional<pending_file> pending;
  file_handle file;
  std::optional<text_writer> out;

  // Runs step unless a failure is kept already; keeps what it throws.
  template <class Step>
  void attempt(Step&& step) {
    if (failure) return;
    try {
      step();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // Closes the stream and removes an uncommitted temporary.
  void drop() {
    out.reset();
    file.reset();
    pending.reset();
  }
  // drop, then throws the kept failure, if any.
  void finish() {
    drop();
    if (failure) std::rethrow_exception(failure);
  }
};
