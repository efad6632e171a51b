#pragma once

// Every connection takes a descriptor, and a service is often started with
// a soft limit of 1024. raiseDescriptorLimit() lifts the soft limit to the
// hard one and returns the limit now in force (-1 when it cannot be read).
int raiseDescriptorLimit();
