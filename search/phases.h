// The phases of the search program's run, built on the files it keeps (search/files/) and on the
// engine (search/engine/). Each is defined in its own source file and instantiated there for both
// widths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "search/files/files.h"

namespace kv {

// Merging new numbers from the user's file.
template <typename W>
int16_t AddData(SearchState<W>& s);

// The re-examination of the continuation store.
template <typename W>
void ContSearch(SearchState<W>& s);

// The length-3 search.
template <typename W>
void Len3Search(SearchState<W>& s);

// One whole run of the search program; ends the process.
template <typename W>
[[noreturn]] void RunSearchProgram(SearchState<W>& s);

// The search program started with command-line arguments: options answer their questions, then
// the run goes on as RunSearchProgram.
template <typename W>
[[noreturn]] void RunSearchCommand(SearchState<W>& s, const std::vector<std::string>& arguments);

// The prompts of the two questions of a run, for preset answers.
inline constexpr std::string_view kAddFilePrompt = "Enterを押して下さい : ";
inline constexpr std::string_view kMinLengthPrompt =
    "発見した数列は、長さ幾らからテキスト保存しますか？(3 - 20) :";

// The other ranks' program (serve.cpp): serves rank 0's searches until told to quit. Returns the
// exit code.
int ServeSearches();
// A helper rank's part of one length-3 search, or of one continuation search, from the order that
// began it to its end (len3.cpp, contsearch.cpp).
template <typename W>
void ServeLen3(const std::vector<unsigned char>& begin);
template <typename W>
void ServeContSearch(const std::vector<unsigned char>& begin);

}  // namespace kv
