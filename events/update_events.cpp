#include "events/update_events.h"

void IgnoreUpdateEvent(const UpdateEvent&) {}

UpdateEventSink gEvents = IgnoreUpdateEvent;
