#include "serial/receivefilter.h"

void TReceiveFilter::Configure(bool marked, bool replace, char replaceChar, bool discardNull) {
  FMarked = marked;
  FReplace = replace;
  FReplaceChar = replaceChar;
  FDiscardNull = discardNull;
}

void TReceiveFilter::Feed(const char* data, qsizetype size, QByteArray& out) {
  for (qsizetype i = 0; i < size; ++i) {
    const char c = data[i];
    switch (FState) {
      case TState::Plain:
        if (FMarked && c == '\xff') {
          FState = TState::Escape;
        } else {
          Emit(c, out);
        }
        break;
      case TState::Escape:
        // 0xFF 0xFF is a real 0xFF; 0xFF 0x00 announces a byte received with an error. Any
        // other byte (marking switched off meanwhile) leaves both bytes as they came.
        FState = c == '\0' ? TState::Error : TState::Plain;
        if (c == '\0') break;
        Emit('\xff', out);
        if (c != '\xff') Emit(c, out);
        break;
      case TState::Error:
        FState = TState::Plain;
        Emit(FReplace ? FReplaceChar : c, out);
        break;
    }
  }
}

void TReceiveFilter::Emit(char c, QByteArray& out) const {
  if (FDiscardNull && c == '\0') return;
  out.append(c);
}
