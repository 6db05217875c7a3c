#pragma once
#include <string>

#include "http/HttpCommunication.h"

class THttpResponse : public THttpCommunication {
 public:
  // The number after the first blank of the status line. An empty first line
  // is dropped first (answers sometimes start with a stray line end).
  bool GetStatusCode(int &code);
  // The reason phrase: what follows the code and one blank.
  std::string GetStatusText();
  TStringList GetBody() const;
  // The body lines, moved out: the response keeps its status and headers.
  TStringList TakeBody();
  // The body as one text, moved out the same way: as it arrived when it was
  // read from the wire (no line is split or copied), otherwise the body
  // lines with CR LF after each.
  std::string TakeBodyText();

  // Merges a block of header lines read from the wire into this response.
  void MergeHeaders(const TStringList &headers);
  // Makes Body the lines after the first empty line.
  void PutBody(const TStringList &body);
  // The same, taking the lines over rather than copying them (a message
  // body of many megabytes).
  void PutBody(TStringList &&body);
  // The same from the text as received, kept whole until lines are asked for.
  void PutBodyText(std::string body);

  // A body read from the wire is always kept as one text until lines are
  // asked for; this flag is accepted from callers that set it and has no
  // effect.
  bool KeepBodyText = false;

  // Date-time (days) at which the last exchange ended, whatever its outcome.
  double ReceivedAt = 0;

 private:
  // Where the body begins, after an empty line added when there is none.
  size_t BodyStart();
};
