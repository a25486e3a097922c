// compare_names and sort_choices at growing sizes: the time per name of the
// sort should grow no faster than log n.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "choices/choice_list.h"
#include "choices/compare_names.h"
#include "choices/sort_choices.h"

namespace {

// Names such as users keep: a few stems, numbers, extensions, in random
// order. Their length does not depend on `count`, so that the sizes differ
// only in how many names there are.
std::vector<std::string> make_names(std::size_t count) {
  static const char* stems[] = {"track", "File", "opt", "", "draft-", "cfg/opt"};
  static const char* extensions[] = {".txt", ".conf", "", ".tar.gz", "a.c"};
  std::mt19937 rng(42);
  std::vector<std::string> names;
  names.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    names.push_back(std::string(stems[rng() % 6]) + std::to_string(rng() % 10000000) +
                    extensions[rng() % 5]);
  }
  return names;
}

void BM_compare_names(benchmark::State& state) {
  std::vector<std::string> names = make_names(1024);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        compare_names(names[i % 1024].c_str(), names[(i * 7 + 1) % 1024].c_str()));
    ++i;
  }
}
BENCHMARK(BM_compare_names);

void BM_sort_choices(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<std::string> names = make_names(n);
  ChoiceList list;
  for (const std::string& name : names)
    add_choice(&list, name);
  // The sort is repeated on its own output relinked in the original order.
  std::vector<ChoiceNode*> order;
  for (ChoiceNode* node = list.head; node != nullptr; node = node->next)
    order.push_back(node);
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t k = 0; k + 1 < order.size(); ++k)
      order[k]->next = order[k + 1];
    order.back()->next = nullptr;
    list.head = order.front();
    state.ResumeTiming();
    list.head = sort_choices(list.head);
    benchmark::DoNotOptimize(list.head);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  state.counters["ns_per_name"] =
      benchmark::Counter(static_cast<double>(state.iterations() * n),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_sort_choices)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
