#pragma once

// Everything the two programs use from the workstation core.
#include "ostrak/environment.hpp"
#include "ostrak/error.hpp"
#include "ostrak/heartbeat.hpp"
#include "ostrak/installation.hpp"
#include "ostrak/knowledge_index.hpp"
#include "ostrak/models.hpp"
#include "ostrak/safe_files.hpp"
#include "ostrak/station.hpp"
#include "ostrak/timestamp.hpp"
#include "ostrak/types.hpp"
#include "ostrak/uuid.hpp"
#include "ostrak/workspace.hpp"
