// Comparing what the tool printed with what a test expects, on every engine:
// the words only the engine decides are masked, so that one expected text
// holds for the whole output.
#pragma once

#include <string>

// |text| with the engine's own error text in every failure report replaced by
// "ERR": "SQL query failed (ERR):" and "Connection to the database lost (ERR);
// command stopped".
inline std::string MaskErrors(std::string text)
{
   static const struct
   {
      const char *open, *close;
   } kReports[] = {{"SQL query failed (", "):\n"}, {"Connection to the database lost (", "); command stopped\n"}};
   for (const auto &report : kReports)
   {
      const std::string open = report.open;
      for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1))
      {
         size_t start = at + open.size();
         size_t end = text.find(report.close, start);
         if (end == std::string::npos)
            break;
         text.replace(start, end - start, "ERR");
      }
   }
   return text;
}

// True when |text| ends with |tail|: for outputs whose beginning a test does
// not pin down.
inline bool EndsWith(const std::string &text, const std::string &tail)
{
   return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
