// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Raises this process's soft limit of open files to its hard limit. A walk
// keeps open directories on its way down and runs faster with many at hand
// (it copes with few). Programs call it once at start.
void RaiseOpenFileLimit();
