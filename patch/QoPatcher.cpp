#include "patch/QoPatcher.h"

QoPatcher::~QoPatcher() = default;
