#pragma once

#include "Procedure/Step.h"
