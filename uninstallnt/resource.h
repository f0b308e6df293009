// Resource symbols of ntpurge.
#define IDI_ICON2 102
