#include "events/update_events.h"

UpdateEvents gEvents = NO_UPDATE_EVENTS;
