// Passing the command child's counted records on to the client as they
// arrive: a record's data moves as soon as it is read, so a large response
// never has to be held whole, and nothing else is sent until the record is
// complete. Format: doc/protocol.md#counted-records
#pragma once

#include "src/protocol/buffer.h"

class RecordRelay {
  public:
    // Moves what `from` holds of the current and following records to `to`;
    // a special count -1 asks for "F" (when the client takes it) and a
    // flush of the client stream.
    void forward(buffer &from, buffer &to);
    // True while a record has been started but not finished.
    bool in_record() const { return in_record_; }

  private:
    size_t remaining_ = 0;  // data bytes of the current record still to come
    bool in_record_ = false;
};
