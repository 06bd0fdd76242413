// The zalk library: layered elastic analysis, back-calculation and load
// rating of pavements. See the topic headers.
#pragma once

#include "zalk/analysis.hpp"
#include "zalk/fwd_file.hpp"
#include "zalk/rating.hpp"
#include "zalk/rating_model.hpp"
#include "zalk/status.hpp"
#include "zalk/survey.hpp"
#include "zalk/units.hpp"
