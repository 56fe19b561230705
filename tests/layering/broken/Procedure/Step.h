#pragma once

#include "util/Helper.h"
