// Object matrices: random edits against a std::map model, sizes, the 16-bit limit, enumerators.
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <type_traits>
#include <vector>

#include "kqutility/collections/KQUMatrix1D.h"
#include "kqutility/collections/KQUMatrix2D.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;

namespace {

using Obj = std::shared_ptr<int>;
using Model = std::map<std::pair<uint32_t, uint32_t>, Obj>;  // (column, row) -> object

template <typename Cell>
Cell cellOf(const Obj& o) {
    if constexpr (std::is_pointer_v<Cell>)
        return o.get();
    else
        return o;
}

KQUMatrixSize box(const Model& model) {
    KQUMatrixSize s;
    for (const auto& [at, o] : model)
        s = {std::max(s.columns, at.first + 1), std::max(s.rows, at.second + 1)};
    return s;
}

// Moves the cells that match by delta along one axis, dropping those that leave [0, limit).
template <typename Match>
void shift(Model& model, bool columns, Match match, int delta, uint32_t limit) {
    Model next;
    for (const auto& [at, o] : model) {
        uint32_t c = at.first, r = at.second, &moving = columns ? c : r;
        if (match(c, r)) moving = uint32_t(int64_t(moving) + delta);
        if (moving < limit) next[{c, r}] = o;
    }
    model = std::move(next);
}

template <typename Cell>
void expectMatches(const KQUMatrix<Cell>& m, const Model& model, uint32_t columns, uint32_t rows,
                   const std::vector<Obj>& pool) {
    ASSERT_EQ(m.objectCount(), model.size());
    ASSERT_EQ(m.populatedSize(), box(model));
    auto access = m.objectAccessorFunction();
    for (uint32_t c = 0; c < columns; ++c)
        for (uint32_t r = 0; r < rows; ++r) {
            auto it = model.find({c, r});
            ASSERT_EQ(access(m, {uint16_t(c), uint16_t(r)}), it == model.end() ? nullptr : it->second.get())
                << c << "," << r;
        }
    if constexpr (!std::is_pointer_v<Cell>) {
        for (const auto& o : pool) {
            auto cells = std::count_if(model.begin(), model.end(), [&](auto& e) { return e.second == o; });
            ASSERT_EQ(o.use_count(), 1 + 2 * cells);  // the pool, the model, the matrix
        }
    }
}

// Random edits of a 1D matrix (every edit) or a 2D one (stores, removals) against the model.
template <typename Cell, bool kOneDimensional, typename Matrix>
void runModel(Matrix& m, uint16_t kColumns, uint16_t kRows, unsigned seed) {
    std::vector<Obj> pool;
    for (int v : {1, 2, 3, 3, 4, 5}) pool.push_back(std::make_shared<int>(v));  // two equal but distinct
    std::mt19937 random(seed);
    auto pick = [&](uint32_t n) { return uint16_t(random() % n); };
    test::ContinueAfterAssertions goOn;  // column insertions that push every cell out report, then go on
    test::LogCapture quiet;
    Model model;
    for (int step = 0; step < 3000; ++step) {
        uint16_t n = uint16_t(1 + pick(3)), row = pick(kRows), column = pick(kColumns), from = pick(9),
                 to = pick(9);
        const Obj& o = pool[pick(uint32_t(pool.size()))];
        KQUMatrixSize populated = box(model);
        bool columns = pick(2);
        uint16_t at = columns ? column : row;
        auto onAxis = [&](uint32_t c, uint32_t r) { return columns ? c : r; };
        switch (pick(10)) {
            case 4:
                m.removeObject(o.get());
                std::erase_if(model, [&](auto& e) { return e.second == o; });
                break;
            case 5:
            case 6:  // insertion before at, across from..to of the other axis
                if constexpr (kOneDimensional) {
                    columns ? m.insertColumnsBeforeColumnIndex(n, at, from, to)
                            : m.insertRowsBeforeRowIndex(n, at, from, to);
                    if (at < (columns ? populated.columns : populated.rows))
                        shift(
                            model, columns,
                            [&](uint32_t c, uint32_t r) {
                                return onAxis(c, r) >= at && onAxis(r, c) >= from && onAxis(r, c) <= to;
                            },
                            n, columns ? kColumns : kRows);
                } else if (pick(10) == 0) {
                    m.removeAllObjects(), model.clear();
                }
                break;
            case 7:
            case 8:
                if constexpr (kOneDimensional) {
                    auto answer =
                        columns ? m.removeColumnsAtColumnIndex(n, at) : m.removeRowsAtRowIndex(n, at);
                    ASSERT_EQ(answer.has_value(), at < (columns ? populated.columns : populated.rows));
                    if (!answer) break;
                    std::set<int*> removed;
                    std::erase_if(model, [&](auto& e) {
                        uint32_t k = onAxis(e.first.first, e.first.second);
                        return k >= at && k < at + n && (removed.insert(e.second.get()), true);
                    });
                    ASSERT_EQ(answer->count(), removed.size());
                    for (int* e : removed) ASSERT_TRUE(answer->containsObject(e));
                    shift(
                        model, columns, [&](uint32_t c, uint32_t r) { return onAxis(c, r) >= at + n; }, -n,
                        0xFFFF);
                } else {
                    m.setObject(nullptr, {column, row});
                    model.erase({column, row});
                }
                break;
            case 9:
                if constexpr (kOneDimensional) {
                    m.swapRow(row, column);  // column < kRows serves as the other row
                    if (std::min(row, column) >= populated.rows) break;
                    Model next;
                    auto swapped = [&](uint32_t r) -> uint32_t {
                        return r == row ? column : r == column ? row : r;
                    };
                    for (auto& [where, object] : model) next[{where.first, swapped(where.second)}] = object;
                    model = std::move(next);
                    break;
                }
                [[fallthrough]];
            default: {
                Obj stored = pick(5) == 0 ? nullptr : o;
                auto it = model.find({column, row});
                int* before = it == model.end() ? nullptr : it->second.get();
                ASSERT_EQ(KQUMatrixCell<Cell>::address(m.setObject(cellOf<Cell>(stored), {column, row})),
                          before);
                stored ? void(model[{column, row}] = stored) : void(model.erase({column, row}));
            }
        }
        KQUMatrixSize area{kColumns, kRows};
        if constexpr (!kOneDimensional) {
            area = {m.allocatedSize().columns + 2u, m.allocatedSize().rows + 2u};  // past the allocated tiles
            ASSERT_EQ(std::tuple(area.columns % 4, area.rows % 4), std::tuple(2u, 2u));
        }
        ASSERT_NO_FATAL_FAILURE(expectMatches<Cell>(m, model, area.columns, area.rows, pool))
            << "step " << step;
    }
}

TEST(Matrix1D, RandomEditsAgainstAModel) {
    KQUMatrix1DOf<int*> plain(4, 9, 6, false);
    runModel<int*, true>(plain, 6, 9, 5);
    KQUMatrix1DOf<Obj> retained(4, 9, 6, false);
    runModel<Obj, true>(retained, 6, 9, 5);
}

TEST(Matrix2D, RandomEditsAgainstAModel) {
    KQUMatrix2DOf<int*> plain(4);
    runModel<int*, false>(plain, 21, 21, 9);
    KQUMatrix2DOf<Obj> retained(4);
    runModel<Obj, false>(retained, 21, 21, 9);
}

TEST(Matrix1D, KnownSizesAndBounds) {
    int x = 0, y = 1;
    KQUNonretainedMatrix1D<int> m(1000, 10);
    EXPECT_EQ(m.bufferSize(), 0u);
    KQUNonretainedMatrix1D<int> zeroTile(0, 1000, 10, false);  // 0 rows a tile: the default, no division by 0
    m.setObject(&x, {3, 300});
    zeroTile.setObject(&x, {0, 300});
    EXPECT_EQ(std::tuple(m.bufferSize(), zeroTile.bufferSize()), std::tuple(3840u, 3840u));
    EXPECT_EQ(m.KQUMatrix1DIndexAsCoordinates(25), (KQUMatrixCoordinates{5, 2}));

    EXPECT_EQ(m.objectAt({9, 999}), nullptr);  // inside the maximum: no report
    EXPECT_THROW((void)m.objectAt({10, 0}), KQUException);
    EXPECT_THROW((void)m.objectAccessorFunction()(m, {0, 1000}), KQUException);
    EXPECT_THROW(m.setObject(&y, {0, 1000}), KQUException);
}

TEST(Matrix2D, TilesAndTheSixteenBitLimit) {
    int x = 0, y = 1;
    KQUNonretainedMatrix2D<int> m, zeroTile(0);
    m.setObject(&x, {200, 5});
    zeroTile.setObject(&x, {0, 0});
    EXPECT_EQ(std::tuple(m.allocatedSize(), zeroTile.allocatedSize()),
              std::tuple(KQUMatrixSize{256, 128}, KQUMatrixSize{128, 128}));

    KQUNonretainedMatrix2D<int> wide(100);
    wide.setObject(&x, {65535, 0});
    EXPECT_EQ(wide.allocatedSize(), (KQUMatrixSize{65600, 100}));
    wide.setObject(&y, {3, 150});  // grows every column, the last ones included
    EXPECT_EQ(wide.allocatedSize(), (KQUMatrixSize{65600, 200}));
    EXPECT_EQ(std::tuple(wide.objectAt({65535, 0}), wide.objectAt({3, 150}), wide.objectCount(),
                         wide.populatedSize()),
              std::tuple(&x, &y, size_t(2), KQUMatrixSize{65536, 151}));

    KQUNonretainedMatrix2D<int> tall;
    tall.setObject(&x, {0, 65535});
    EXPECT_EQ(std::tuple(tall.allocatedSize(), tall.objectAccessorFunction()(tall, {0, 65535})),
              std::tuple(KQUMatrixSize{128, 65536}, &x));
}

TEST(Matrix, EnumeratorsAndVisitingOrder) {
    int a = 0, b = 1, c = 2;
    KQUNonretainedMatrix1D<int> m(1000, 10);
    m.setObject(&a, {1, 1});
    auto e = m.positionEnumerator();
    m.setObject(&b, {2, 900});  // reallocates the buffer the enumerator started on
    EXPECT_EQ(e.nextObjectWithPositionAsCoordinates(), std::pair(KQUMatrixCoordinates{1, 1}, &a));
    EXPECT_EQ(e.nextObjectWithPosition(),
              (std::pair<size_t, int*>{0, nullptr}));  // growth after creation: not walked

    KQUNonretainedMatrix2D<int> grid(2);
    grid.setObject(&a, {1, 0});
    grid.setObject(&b, {0, 1});
    grid.setObject(&c, {0, 0});
    std::vector<int*> visited, enumerated;
    grid.forEach([&](int& o) { visited.push_back(&o); });
    EXPECT_EQ(visited, (std::vector<int*>{&c, &a, &b}));  // row by row
    auto e2 = grid.objectEnumerator();
    grid.setObject(&a, {40, 40});
    while (int* o = e2->nextObject()) enumerated.push_back(o);
    EXPECT_EQ(enumerated, visited);  // the populated area at creation: (40, 40) is not walked
}

TEST(Matrix1D, SubMatricesReadTheSourceThroughItsOwnBounds) {
    auto o1 = std::make_shared<int>(1), o2 = std::make_shared<int>(2), o3 = std::make_shared<int>(3);
    KQUMatrix1D<int> source(2, 6, 4, false);  // 2 rows per tile: only 2 rows are stored
    source.setObject(o1, {1, 1});
    source.setObject(o2, {2, 1});
    source.setObject(o3, {3, 0});
    auto sub = source.nonretainedSubMatrixForMatrixRect({{1, 0}, {3, 6}});  // rows 2..5 lie past its storage
    EXPECT_EQ(std::tuple(sub.objectAt({0, 1}), sub.objectAt({1, 1}), sub.objectAt({2, 0}), sub.objectCount()),
              std::tuple(o1.get(), o2.get(), o3.get(), size_t(3)));
    {
        auto retained = source.subMatrixForMatrixRect({{1, 1}, {2, 1}});
        EXPECT_EQ(o1.use_count(), 3);
        KQUMatrix1D<int> narrow(source, {{1, 1}, {2, 5}}, {2, 1});  // another maximum size, another stride
        EXPECT_EQ(std::tuple(narrow.objectAt({0, 0}), narrow.objectAt({1, 0}), narrow.populatedSize()),
                  std::tuple(o1, o2, KQUMatrixSize{2, 1}));
    }
    EXPECT_EQ(o1.use_count(), 2);
    EXPECT_THROW((void)source.subMatrixForMatrixRect({{2, 0}, {3, 1}}), KQUException);
}

TEST(Matrix1D, ColumnInsertionDropsAndReleasesCellsPushedOut) {
    auto o = std::make_shared<int>(1), p = std::make_shared<int>(2);
    KQUMatrix1D<int> m(4, 4);
    m.setObject(o, {3, 0});
    m.setObject(p, {0, 0});
    m.insertColumnsBeforeColumnIndex(1, 0);
    EXPECT_EQ(std::tuple(m.objectCount(), o.use_count(), m.populatedSize()),
              std::tuple(size_t(1), 1L, KQUMatrixSize{2, 1}));
    EXPECT_THROW(m.insertColumnsBeforeColumnIndex(3, 1),
                 KQUException);  // pushes every cell from column 1 out
    test::ContinueAfterAssertions goOn;
    test::LogCapture log;
    m.insertColumnsBeforeColumnIndex(4, 1);
    EXPECT_TRUE(log.contains("Trying to memmove a 0-length region."));
    EXPECT_EQ(std::tuple(m.objectCount(), p.use_count(), m.populatedSize()),
              std::tuple(size_t(0), 1L, KQUMatrixSize{0, 0}));
}

}  // namespace
