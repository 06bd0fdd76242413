#include "engine/quorvan.h"

#include <algorithm>
#include <new>

#include "engine/driver.h"
#include "engine/engine_messages.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

constexpr int kDeflectionPoints = 8;
constexpr int kIndicators = 10;  // rows of one mode-2 result column
constexpr int kMaxStrengthFactors = 5;

// Runs `work`, turning a failed allocation of work storage into a terminal
// error of the reporter, the only way the engine's callers learn of failures.
template <class Work>
auto with_storage_check(Work&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    toolkit::RoutineScope scope("QUORVAN");
    raise(EngineMessage::no_storage);
    throw;  // not reached: the reporter ends the process or throws
  }
}

// deck == nullptr: the deck text stays in memory.
void run_cases(EngineWorkspace& ws, const std::filesystem::path* deck, float h1, float h2,
               float h3, const float* e1, const float* e2, const float* e3, float q, float* defl,
               float* resp, const float* seastab, int ncases, int mode) {
  // Mode 2 has one strength factor per case and five of them at most; more
  // cases would read past the caller's factors.
  if (mode == 2 && ncases > kMaxStrengthFactors) {
    toolkit::RoutineScope scope("QUORVAN");
    toolkit::E1STI(1, ncases);
    raise(EngineMessage::too_many_cases);
  }
  std::array<float, kMaxStrengthFactors> coh{};
  if (mode == 2) {
    for (int i = 0; i < std::min(ncases, kMaxStrengthFactors); ++i) coh[i] = 6.0f * seastab[i];
  }
  const double kp = passive_coefficient();

  DeckRequest request;
  request.h1 = h1;
  request.h2 = h2;
  request.h3 = h3;
  request.e1 = e1;
  request.e2 = e2;
  request.e3 = e3;
  request.q = q;
  request.ncases = ncases;
  request.mode = mode;
  // The analysis sees exactly the numbers the deck holds (moduli to three
  // significant digits), as when the deck is run on its own.
  if (deck != nullptr) {
    write_and_read_deck_file(*deck, request, ws.problems);
  } else {
    read_deck_text(write_deck_text(request), ws.problems);
  }

  const int ncols = std::max(ncases, 0);
  for (int p = 1; p <= ws.problems.nprob && p <= ncols; ++p) {
    analyse_problem(ws, ws.problems.problems[p - 1], ws.problems.abstol, ws.problems.reltol);
    const int c = p;
    if (mode == 1) {
      for (int i = 1; i <= kDeflectionPoints; ++i) defl[i - 1] = float(ws.rslot.at(1, i));
    } else if (mode == 2) {
      mode2_indicators(ws.rslot, h1, h2, coh[c - 1], kp, resp + std::size_t(c - 1) * kIndicators);
    }
  }
}

}  // namespace

std::unique_ptr<EngineWorkspace> make_engine_workspace() {
  return with_storage_check([] { return std::make_unique<EngineWorkspace>(); });
}

void analyse_problem(EngineWorkspace& ws, const DeckProblem& problem,
                     const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                     const EngineAccuracy& accuracy) {
  with_storage_check([&] {
    set_up_problem(ws, problem);
    if (accuracy.high)
      analyse_current_accurately(ws);
    else
      analyse_current(ws, abstol, reltol);
  });
}

void analyse_deflections(EngineWorkspace& ws, const DeckProblem& problem,
                         const std::array<double, 10>& abstol, const std::array<double, 10>& reltol) {
  with_storage_check([&] {
    set_up_problem(ws, problem);
    analyse_current_deflections(ws, abstol, reltol);
  });
}

double result_slot(const EngineWorkspace& ws, int slot, int point) {
  return ws.rslot.at(slot, point);
}

void quorvan(EngineWorkspace& ws, const std::filesystem::path& deck, float h1, float h2, float h3,
             const float* e1, const float* e2, const float* e3, float q, float* defl, float* resp,
             const float* seastab, int ncases, int mode) {
  with_storage_check([&] {
    run_cases(ws, &deck, h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, ncases, mode);
  });
}

void quorvan(EngineWorkspace& ws, float h1, float h2, float h3, const float* e1, const float* e2,
             const float* e3, float q, float* defl, float* resp, const float* seastab, int ncases,
             int mode) {
  with_storage_check([&] {
    run_cases(ws, nullptr, h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, ncases, mode);
  });
}

}  // namespace zalk::engine
