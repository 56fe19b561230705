#include "Procedure/StopEvent.h"

void StopEvent::Set() { signalled_.store(true); }

void StopEvent::Reset() { signalled_.store(false); }

bool StopEvent::IsSet() const { return signalled_.load(); }
