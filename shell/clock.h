#ifndef VOSKELD_CLOCK_H
#define VOSKELD_CLOCK_H

// Milliseconds of waking time since some fixed moment: never set back, and
// time asleep does not count.
long long NowMilliseconds();

#endif
