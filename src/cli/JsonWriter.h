#pragma once
// tarn-cli's JSON lines are the core's (model/Json.h), shared with the change
// log and the export.
#include "model/Json.h"
