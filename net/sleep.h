// Sleep on the steady clock, immune to wall-clock changes and early wake-ups.
#pragma once

// Returns after at least `ms` milliseconds; 0 or less returns at once.
void sleepMs(int ms);
