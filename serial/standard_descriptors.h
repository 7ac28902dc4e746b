// Keeps the standard descriptors from being taken by anything the program opens later. Platform-neutral
// interface; one file per system.
#pragma once

// Call first thing in main. A program started with descriptor 0, 1 or 2 closed (by a service manager or a
// launcher, or `>&-`) would otherwise hand those numbers to the next file it opens: the serial link's wake-up
// pipe or the port itself, which the program's own output would then reach. Each closed one is opened on
// the null device instead.
void guardStandardDescriptors();
