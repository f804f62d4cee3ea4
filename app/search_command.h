// `lun search`: a search from the terminal, in the manner of recollq and
// mdfind.
//
//   lun search QUERY... [--home DIR] [--limit N] [--json] [--files-only]
//
// QUERY is written as in the quick search window (the query language:
// "a*b" both, "a+b" either, "a-b" without, parentheses, blanks are part of
// a phrase); several QUERY arguments must all occur. It is searched in the
// names and contents of the documents, most relevant first.
//
// A running lun of the same home is asked through its socket "lun.socket"
// (app/instance_socket.h), so the answer comes from the index that lun
// keeps current. When none runs, the command takes the home's instance lock
// for the moment of the search (a lun started meanwhile ends at once, as
// with any running instance) and opens the index itself, only reading it.
//
// Prints per hit the path, the modification time, the size and a snippet
// with the keywords marked (bold red on a terminal, 【】 otherwise);
// --files-only prints the paths alone, --json one JSON object. Exit status:
// 0 hits found, 1 nothing found, 2 a wrong command line or a failed search.
#ifndef LUN_APP_SEARCH_COMMAND_H_
#define LUN_APP_SEARCH_COMMAND_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

class SearchService;

struct SearchHit {
  std::string path;
  std::string modified;  // "2024-05-06 09:30", "" when unknown
  uint64_t size = 0;
  // About 200 characters around the first keyword on one line; each marked
  // keyword stands between kMarkStart and kMarkEnd.
  std::string snippet;
};

inline constexpr char kMarkStart = '\x01';
inline constexpr char kMarkEnd = '\x02';

struct SearchAnswer {
  int code = 0;         // engine result code
  std::string message;  // its text
  uint32_t count = 0;   // all hits, also those beyond the limit
  std::vector<SearchHit> hits;
};

// The query of the terminal's words over names and contents.
std::string TerminalSearchQuery(const std::vector<std::string>& words);

// Runs `query` and takes its first `limit` hits.
SearchAnswer CollectHits(SearchService& search, std::string_view query, uint32_t limit);

// The request line a `lun search` sends to the running instance, and the
// instance's answer to it (an empty text for a request it does not know).
std::string SearchRequestLine(std::string_view query, uint32_t limit);
std::string AnswerSearchRequest(SearchService& search, std::string_view request);

// The answer as text for the socket, and back; false for damaged text.
std::string EncodeAnswer(const SearchAnswer& answer);
bool DecodeAnswer(std::string_view text, SearchAnswer* answer);

// `lun search` with the arguments after "search". Returns the exit status.
int RunSearchCommand(const std::vector<std::string>& args);

}  // namespace lun

#endif  // LUN_APP_SEARCH_COMMAND_H_
