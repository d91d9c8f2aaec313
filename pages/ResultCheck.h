#pragma once

class CResult;

// Result > Check: tells whether the file of the lowest selected hit still
// exists and still has the checksum its catalog recorded, in one message
// box captioned "File check". Does nothing without a selection or after a
// search of directories.
void CheckSelectedResult(CResult& page);
