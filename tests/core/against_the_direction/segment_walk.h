#pragma once
// A header of the JPEG layer that reaches up into the walk: the core's include check refuses it.

#include "core/jpeg/markers.h"
#include "core/walk/walk_engine.h"
