// Resource symbols of w9xpurge.
#define IDI_ICON2 102
