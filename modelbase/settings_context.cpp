#include "modelbase/settings_context.h"

const settings_context& no_settings() {
  static const settings_context empty;
  return empty;
}
