// Pairing of internal inflows with the internal abstractions that feed them.
#include "routing/internal_connections.h"

void connect_internal_inflows(std::vector<connection_reach>& reaches) {
  const int count = static_cast<int>(reaches.size());
  for (int r = 0; r < count; ++r) {
    for (const int z : reaches[static_cast<size_t>(r)].internal_inflows) {
      bool found = false;
      for (int j = 0; j < count; ++j) {
        for (connection_abstraction& al : reaches[static_cast<size_t>(j)].abstractions) {
          if (!al.internal || al.code != z) continue;
          const std::string tg_j = std::to_string(reaches[static_cast<size_t>(j)].tg_code);
          if (found)
            throw connection_fault{
                300, "in routing description " + std::to_string(j + 1) + " for TG " + tg_j +
                         ":\nInflow " + std::to_string(z) +
                         " is already connected to an internal abstraction.\nEach abstaction "
                         "(AL-element) must be conencted to exactly one internal "
                         "inflow(ZL-element)\n"};
          if (reaches[static_cast<size_t>(j)].tg_code == reaches[static_cast<size_t>(r)].tg_code)
            throw connection_fault{
                301, "Abstraction AL " + std::to_string(z) + " from routing description " +
                         std::to_string(j + 1) + " and inflow ZL " + std::to_string(z) +
                         " are both defined for the same routing-subbasin TG " + tg_j +
                         ".\nthis is not allowed\n"};
          al.connected_to = reaches[static_cast<size_t>(r)].subbasin_index;
          found = true;
        }
      }
      if (!found)
        throw connection_fault{
            302, "in routing description " + std::to_string(r + 1) + " for TG " +
                     std::to_string(reaches[static_cast<size_t>(r)].tg_code) +
                     ":\nInternal Inflow ZL " + std::to_string(z) +
                     " has no conenction to an internal abstraction.\nthis is not allowed\n"};
    }
  }
  for (int j = 0; j < count; ++j)
    for (const connection_abstraction& al : reaches[static_cast<size_t>(j)].abstractions)
      if (al.internal && al.connected_to <= 0)
        throw connection_fault{303, "in routing description " + std::to_string(j + 1) +
                                        " for TG " +
                                        std::to_string(reaches[static_cast<size_t>(j)].tg_code) +
                                        ":\nInternal abstraction AL " + std::to_string(al.code) +
                                        " is not connected to any internal inflow.\n"};
}
