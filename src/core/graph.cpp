// Skeleton graph: snapping segments into a graph, tip pruning, junction merging and chain
// extraction.
//
// Every operation derives its adjacency from the edge list once, in edge order, as compressed
// rows (CSR). Neighbour order is what decides every tie-break below, so it must never come from
// a hash container. Hash containers here are only ever queried, never iterated.
#include "graph.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "numeric.hpp"
#include "pair_table.hpp"

namespace strandify {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

using PairSet = PairTable<unsigned char>;

// An edge that breaks the graph invariants (an id out of range, a self-edge) cannot take part
// in any walk; it is treated as absent so that no operation reads outside the node list.
bool usable(const Edge& e, std::size_t node_count) {
  return e.a < node_count && e.b < node_count && e.a != e.b;
}

// ---------------------------------------------------------------------------------------------
}  // namespace

Adjacency build_adjacency(const Graph& graph, EdgeMeasure measure) {
  const std::size_t n = graph.nodes.size();
  Adjacency adj;
  adj.measure = measure;
  // The degrees summed up to and including each node are where its neighbours end. Filled from
  // the last edge to the first, each incidence just before its node's end, every list comes out
  // in edge order and every node's mark at its start: one array is the fill marks and offsets.
  adj.offset.assign(n + 1, 0);
  for (const Edge& e : graph.edges) {
    if (!usable(e, n)) continue;
    ++adj.offset[e.a];
    ++adj.offset[e.b];
  }
  for (std::size_t v = 1; v <= n; ++v) adj.offset[v] += adj.offset[v - 1];
  adj.neighbour.resize(adj.offset[n]);
  adj.edge_id.resize(adj.offset[n]);
  adj.length_.assign(graph.edges.size(), -1.0);
  for (std::size_t id = graph.edges.size(); id-- > 0;) {
    const Edge& e = graph.edges[id];
    if (!usable(e, n)) continue;
    const std::size_t at_b = --adj.offset[e.b];
    adj.neighbour[at_b] = e.a;
    adj.edge_id[at_b] = id;
    const std::size_t at_a = --adj.offset[e.a];
    adj.neighbour[at_a] = e.b;
    adj.edge_id[at_a] = id;
  }
  return adj;
}

bool distinct_pairs(const Graph& graph, const Adjacency& adj) {
  constexpr std::size_t kCompared = 8;
  const std::size_t n = graph.nodes.size();
  if (adj.offset[n] != 2 * graph.edges.size()) return false;  // an edge the adjacency left out
  for (NodeId v = 0; v < n; ++v) {
    const std::size_t begin = adj.begin(v), end = adj.end(v);
    if (end - begin > kCompared) return false;
    for (std::size_t i = begin + 1; i < end; ++i)
      for (std::size_t j = begin; j < i; ++j)
        if (adj.neighbour[i] == adj.neighbour[j]) return false;
  }
  return true;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Snapping.

// Coordinate of a neighbouring cell; false where it would leave the integer range, since a
// saturated cell has nothing beyond it (and the sum would overflow).
bool neighbour_cell(std::int64_t c, int d, std::int64_t& out) {
  if (d > 0 && c == std::numeric_limits<std::int64_t>::max()) return false;
  if (d < 0 && c == std::numeric_limits<std::int64_t>::min()) return false;
  out = c + d;
  return true;
}

// Maps end points to nodes through a grid of cells. A cell that attaches to a neighbouring
// cell's node becomes an alias of that node, so chains of nearby cells collapse into one node
// without ever searching more than the 3 x 3 block around a point.
class Snapper {
 public:
  Snapper(double cell_size, std::size_t expected_cells, std::vector<Point>& nodes)
      : cell_size_(cell_size), nodes_(nodes), cells_(expected_cells) {
    // A huge graph gets a filter of at most 16 MiB: more of its lookups pass to the table.
    std::size_t bits = 1024;
    while (bits < kFilterBitsPerCell * expected_cells && bits < (std::size_t{1} << 27)) bits *= 2;
    filter_.assign(bits / 64, 0);
    filter_mask_ = bits - 1;
  }

  NodeId node_of(const Point& p) {
    const std::int64_t i = round_i64(p.x / cell_size_);
    const std::int64_t j = round_i64(p.y / cell_size_);
    const PairKey cell = key(i, j);
    if (maybe_mapped(cell))
      if (const NodeId* hit = cells_.find(cell)) return *hit;
    const NodeId near = search_block(i, j);
    if (near != kNone) {
      map_cell(cell, near);
      return near;
    }
    const NodeId id = nodes_.size();
    nodes_.push_back(p);
    map_cell(cell, id);
    return id;
  }

 private:
  // Points lie much farther apart than a cell is wide, so nearly every block search finds its
  // eight cells empty. A bit per hashed cell, set for every mapped cell, answers most of those
  // lookups from a small array instead of the table; a clear bit means the cell is unmapped.
  static constexpr std::size_t kFilterBitsPerCell = 32;

  static PairKey key(std::int64_t i, std::int64_t j) {
    return {static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(j)};
  }

  std::size_t filter_bit_of(std::uint64_t hash) const {
    return static_cast<std::size_t>(hash >> 17) & filter_mask_;
  }
  std::size_t filter_bit(const PairKey& cell) const {
    return filter_bit_of(pair_hash(cell.first, cell.second));
  }
  bool bit_set(std::size_t bit) const { return (filter_[bit / 64] >> (bit % 64) & 1) != 0; }

  bool maybe_mapped(const PairKey& cell) const { return bit_set(filter_bit(cell)); }

  void map_cell(const PairKey& cell, NodeId node) {
    cells_.insert(cell, node);
    const std::size_t bit = filter_bit(cell);
    filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }

  // First mapped cell of the block, rows (di) outside, columns (dj) inside. The centre cell is
  // already known to be unmapped.
  NodeId search_block(std::int64_t i, std::int64_t j) const {
    // Away from the ends of the integer range every neighbour exists, and the hash of a cell is
    // the product of its row with one constant against that of its column with the other: three
    // products a side serve the eight cells, whose filter bits are told from them.
    constexpr std::int64_t kInner = std::int64_t{1} << 62;
    if (i > -kInner && i < kInner && j > -kInner && j < kInner) {
      std::uint64_t rows[3], columns[3];
      for (int d = 0; d < 3; ++d) {
        rows[d] = pair_hash_first(static_cast<std::uint64_t>(i + d - 1));
        columns[d] = pair_hash_second(static_cast<std::uint64_t>(j + d - 1));
      }
      for (int di = 0; di < 3; ++di) {
        for (int dj = 0; dj < 3; ++dj) {
          if (di == 1 && dj == 1) continue;
          if (!bit_set(filter_bit_of(pair_hash_join(rows[di], columns[dj])))) continue;
          if (const NodeId* hit = cells_.find(key(i + di - 1, j + dj - 1))) return *hit;
        }
      }
      return kNone;
    }
    for (int di = -1; di <= 1; ++di) {
      std::int64_t ci;
      if (!neighbour_cell(i, di, ci)) continue;
      for (int dj = -1; dj <= 1; ++dj) {
        std::int64_t cj;
        if ((di == 0 && dj == 0) || !neighbour_cell(j, dj, cj)) continue;
        const PairKey cell = key(ci, cj);
        if (!maybe_mapped(cell)) continue;
        if (const NodeId* hit = cells_.find(cell)) return *hit;
      }
    }
    return kNone;
  }

  double cell_size_;
  std::vector<Point>& nodes_;
  PairTable<NodeId> cells_;
  std::vector<std::uint64_t> filter_;
  std::size_t filter_mask_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Tip pruning.

class TipPruner {
 public:
  TipPruner(const Graph& graph, double max_length, const std::vector<double>* allowance = nullptr,
            const TipKeep* keep = nullptr)
      : TipPruner(graph, nullptr, max_length, allowance, keep) {}
  // With the graph's adjacency as build_adjacency gives it, built by the caller.
  TipPruner(const Graph& graph, const Adjacency* adjacency, double max_length,
            const std::vector<double>* allowance, const TipKeep* keep)
      : graph_(graph), own_adj_(adjacency ? Adjacency{} : build_adjacency(graph)),
        adj_(adjacency ? *adjacency : own_adj_), max_length_(max_length), allowance_(allowance),
        keep_(keep) {
    const std::size_t m = graph.edges.size();
    alive_.resize(m);
    for (std::size_t id = 0; id < m; ++id) alive_[id] = usable(graph.edges[id], graph.nodes.size());
    live_degree_.resize(graph.nodes.size());
    for (NodeId v = 0; v < graph.nodes.size(); ++v) live_degree_[v] = adj_.degree(v);
  }

  // Passes until one removes nothing. Degrees are frozen per pass: a junction that loses
  // branches during a pass is only seen as a tip (or chain node) in the next one. A junction
  // turns into a tip only after losing at least two branches in one pass, so the number of
  // passes grows with the nesting depth of short branches, logarithmically in their count.
  void run() {
    bool changed = true;
    while (changed) {
      changed = false;
      pass_degree_ = live_degree_;
      for (NodeId v = 0; v < pass_degree_.size(); ++v) {
        if (pass_degree_[v] == 1 && prune_branch_from(v)) changed = true;
      }
    }
  }

  Graph result() const {
    Graph out;
    out.nodes = graph_.nodes;
    std::size_t kept = 0;
    for (unsigned char a : alive_) kept += a;
    out.edges.reserve(kept);
    for (std::size_t id = 0; id < alive_.size(); ++id) {
      if (alive_[id]) out.edges.push_back(graph_.edges[id]);
    }
    return out;
  }

 private:
  // The alive edge at `cur` not leading back to `prev`. Frozen pass degrees guarantee at most
  // one, so the first found is the one.
  std::size_t next_edge(NodeId cur, NodeId prev) const {
    for (std::size_t k = adj_.begin(cur); k < adj_.end(cur); ++k) {
      if (alive_[adj_.edge_id[k]] && adj_.neighbour[k] != prev) return k;
    }
    return kNone;
  }

  // Walks from tip v to the first node whose pass degree is not 2 and removes the branch when
  // it is shorter than the limit (strictly; a NaN length never is).
  bool prune_branch_from(NodeId v) {
    branch_.clear();
    double length = 0.0;
    NodeId prev = kNone;
    NodeId cur = v;
    NodeId last = v;
    // A branch never repeats an edge on a valid graph; the cap keeps malformed input finite.
    while (branch_.size() < alive_.size()) {
      const std::size_t k = next_edge(cur, prev);
      if (k == kNone) break;
      const NodeId next = adj_.neighbour[k];
      branch_.push_back(adj_.edge_id[k]);
      length += adj_.length(graph_, adj_.edge_id[k]);
      last = next;
      // Without allowances the limit is known before the walk ends: a branch already too long
      // to go is not walked on (a long stroke would otherwise be walked whole in every pass).
      if (!allowance_ && !(length < max_length_)) return false;
      if (pass_degree_[next] != 2) break;
      prev = cur;
      cur = next;
    }
    // A branch is measured from where it leaves the node it ends at; with allowances that node's
    // share of the branch (its radius beyond the buffer's) is not held against it.
    const double limit = allowance_ ? max_length_ - (*allowance_)[last] : max_length_;
    if (branch_.empty() || !(length < limit)) return false;
    if (keep_ && (*keep_)(v, last)) return false;
    for (std::size_t id : branch_) {
      alive_[id] = 0;
      --live_degree_[graph_.edges[id].a];
      --live_degree_[graph_.edges[id].b];
    }
    return true;
  }

  const Graph& graph_;
  Adjacency own_adj_;  // empty when the caller's adjacency is used
  const Adjacency& adj_;
  double max_length_;
  const std::vector<double>* allowance_;
  const TipKeep* keep_;
  std::vector<unsigned char> alive_;
  std::vector<std::size_t> live_degree_;
  std::vector<std::size_t> pass_degree_;
  std::vector<std::size_t> branch_;
};

// ---------------------------------------------------------------------------------------------
// Junction merging.

struct MergeCandidate {
  double length;
  NodeId a;
  NodeId b;
  std::size_t path_begin;  // the path a .. b is path_nodes[path_begin, path_end)
  std::size_t path_end;
};

// Short junction-to-junction connections, each pair once, in discovery order. All paths share
// one node buffer so that a walk that does not qualify costs no allocation.
struct CandidateList {
  std::vector<MergeCandidate> candidates;
  std::vector<NodeId> path_nodes;
};

CandidateList find_merge_candidates(const Graph& graph, const Adjacency& adj,
                                    double max_distance) {
  CandidateList found;
  PairSet recorded(16);
  const std::size_t n = graph.nodes.size();
  const std::size_t max_steps = graph.edges.size();
  for (NodeId v = 0; v < n; ++v) {
    if (adj.degree(v) < 3) continue;
    for (std::size_t k = adj.begin(v); k < adj.end(v); ++k) {
      const std::size_t path_begin = found.path_nodes.size();
      found.path_nodes.push_back(v);
      NodeId prev = v;
      NodeId cur = adj.neighbour[k];
      std::size_t edge = adj.edge_id[k];  // the edge from prev to cur
      double length = 0.0;
      for (std::size_t steps = 0; steps < max_steps; ++steps) {
        found.path_nodes.push_back(cur);
        length += adj.length(graph, edge);
        // Lengths only grow: a path already longer than max_distance cannot qualify, and is not
        // walked to its end (most paths between junctions are long).
        if (adj.degree(cur) != 2 || length > max_distance) break;
        std::size_t next = kNone;
        for (std::size_t s = adj.begin(cur); s < adj.end(cur); ++s) {
          if (adj.neighbour[s] != prev) {
            next = s;
            break;
          }
        }
        if (next == kNone) break;
        prev = cur;
        cur = adj.neighbour[next];
        edge = adj.edge_id[next];
      }
      const NodeId e = found.path_nodes.back();
      const bool qualifies = adj.degree(e) >= 3 && length <= max_distance;
      if (qualifies && recorded.insert(unordered_pair(v, e), 1)) {
        found.candidates.push_back({length, v, e, path_begin, found.path_nodes.size()});
      } else {
        found.path_nodes.resize(path_begin);
      }
    }
  }
  return found;
}

// Disjoint sets whose union keeps a chosen root. Path halving only shortens the way to a root,
// it never changes which node is the root, so results do not depend on it.
class JunctionSets {
 public:
  explicit JunctionSets(std::size_t n) : parent_(n) {
    for (std::size_t v = 0; v < n; ++v) parent_[v] = v;
  }
  NodeId root(NodeId v) {
    while (parent_[v] != v) {
      parent_[v] = parent_[parent_[v]];
      v = parent_[v];
    }
    return v;
  }
  void attach(NodeId child_root, NodeId keep_root) { parent_[child_root] = keep_root; }

 private:
  std::vector<NodeId> parent_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

Graph segments_to_graph(const std::vector<Segment>& segments, double snap) {
  Graph graph;
  graph.nodes.reserve(segments.size());
  graph.edges.reserve(segments.size());
  Snapper snapper(snap, segments.size(), graph.nodes);
  NodePairSet pairs(segments.size());
  for (const Segment& s : segments) {
    // Order matters: the `from` point may create the node the `to` point then joins.
    const NodeId a = snapper.node_of(s.from);
    const NodeId b = snapper.node_of(s.to);
    if (a == b || !pairs.insert(a, b)) continue;
    graph.edges.push_back({a, b});
  }
  return graph;
}

Graph prune_short_tips(const Graph& graph, double max_length) {
  TipPruner pruner(graph, max_length);
  pruner.run();
  return pruner.result();
}

Graph prune_short_tips(const Graph& graph, double max_length,
                       const std::vector<double>& allowance) {
  if (allowance.size() != graph.nodes.size()) return prune_short_tips(graph, max_length);
  TipPruner pruner(graph, max_length, &allowance);
  pruner.run();
  return pruner.result();
}

Graph prune_short_tips(const Graph& graph, double max_length, const std::vector<double>& allowance,
                       const TipKeep& keep) {
  return prune_short_tips(graph, build_adjacency(graph), max_length, allowance, keep);
}

Graph prune_short_tips(const Graph& graph, const Adjacency& adjacency, double max_length,
                       const std::vector<double>& allowance, const TipKeep& keep) {
  const bool allowed = allowance.size() == graph.nodes.size();
  TipPruner pruner(graph, &adjacency, max_length, allowed ? &allowance : nullptr,
                   keep ? &keep : nullptr);
  pruner.run();
  return pruner.result();
}

namespace {

// The nodes just beyond the cluster that merging roots ra and rb along candidate `c` would
// form, at their current positions: the far ends of the merged node's spokes.
// The members of every cluster as lists threaded through two arrays, so that no node needs a
// list of its own: a root heads its cluster's list (merging appends the other cluster's list to
// it), `next` links the members in the order they joined and `tail` is the last member.
struct ClusterMembers {
  std::vector<NodeId> next, tail;

  explicit ClusterMembers(std::size_t n) : next(n, kNone), tail(n) {
    for (NodeId v = 0; v < n; ++v) tail[v] = v;
  }
  void append(NodeId root, NodeId other) {
    next[tail[root]] = other;
    tail[root] = tail[other];
  }
};

void spoke_ends(const Adjacency& adj, const CandidateList& found, const MergeCandidate& c,
                NodeId ra, NodeId rb, const ClusterMembers& members, JunctionSets& sets,
                const std::vector<Point>& position, const std::vector<unsigned char>& removed,
                std::vector<Point>& ends) {
  const auto on_path = [&](NodeId w) {
    for (std::size_t p = c.path_begin; p < c.path_end; ++p)
      if (found.path_nodes[p] == w) return true;
    return false;
  };
  ends.clear();
  for (const NodeId root : {ra, rb}) {
    for (NodeId v = root; v != kNone; v = members.next[v]) {
      for (std::size_t k = adj.begin(v); k < adj.end(v); ++k) {
        const NodeId w = adj.neighbour[k];
        const NodeId rw = sets.root(w);
        if (removed[w] || rw == ra || rw == rb || on_path(w)) continue;
        ends.push_back(position[rw]);
      }
    }
  }
}

}  // namespace

Graph merge_close_junctions(const Graph& graph, double max_distance, const MergeCheck& allow) {
  const std::size_t n = graph.nodes.size();
  const Adjacency adj = build_adjacency(graph);
  CandidateList found = find_merge_candidates(graph, adj, max_distance);
  // Lengths are never NaN here (NaN does not qualify), so the order is strict-weak.
  std::stable_sort(
      found.candidates.begin(), found.candidates.end(),
      [](const MergeCandidate& l, const MergeCandidate& r) { return l.length < r.length; });

  JunctionSets sets(n);
  std::vector<Point> position = graph.nodes;
  std::vector<unsigned char> removed(n, 0);
  std::vector<unsigned char> grown(n, 0);  // roots that took another cluster in
  // Each root's members, kept only when a check needs the spokes of a cluster.
  ClusterMembers members(allow ? n : 0);
  std::vector<Point> ends;
  for (const MergeCandidate& c : found.candidates) {
    const NodeId ra = sets.root(c.a);
    const NodeId rb = sets.root(c.b);
    if (ra == rb) continue;
    // Running pairwise midpoint: later members weigh as much as the whole earlier cluster.
    const Point merged = midpoint(position[ra], position[rb]);
    if (allow) {
      spoke_ends(adj, found, c, ra, rb, members, sets, position, removed, ends);
      if (!allow(merged, ends)) continue;
      members.append(ra, rb);
    }
    position[ra] = merged;
    sets.attach(rb, ra);
    grown[ra] = 1;
    for (std::size_t p = c.path_begin + 1; p + 1 < c.path_end; ++p) {
      removed[found.path_nodes[p]] = 1;
    }
  }

  // The roots of the nodes that still have an edge survive; ids follow ascending root order.
  // A root is asked again below rather than kept per node: the merging is over, so every node
  // keeps its root, and path halving has left it a step or two away.
  constexpr NodeId kSurvives = kNone - 1;  // marks a surviving root until it has its id
  std::vector<NodeId> new_id(n, kNone);
  std::size_t surviving = 0;
  for (const Edge& e : graph.edges) {
    if (!usable(e, n) || removed[e.a] || removed[e.b]) continue;
    for (const NodeId root : {sets.root(e.a), sets.root(e.b)}) {
      if (new_id[root] == kSurvives) continue;
      new_id[root] = kSurvives;
      ++surviving;
    }
  }
  Graph out;
  out.nodes.reserve(surviving);
  for (NodeId v = 0; v < n; ++v) {
    if (new_id[v] != kSurvives) continue;
    new_id[v] = out.nodes.size();
    out.nodes.push_back(position[v]);
  }

  // Two edges end up joining the same pair only when they did already, or when one of their
  // ends lies in a merged cluster, and then the ends of both do. So where no two edges joined the
  // same pair, an edge between unmerged nodes is kept without a look at the others, and only
  // the edges of merged clusters are checked against each other.
  const bool distinct = distinct_pairs(graph, adj);
  NodePairSet emitted(distinct ? 0 : graph.edges.size());
  out.edges.reserve(graph.edges.size());
  for (const Edge& e : graph.edges) {
    if (!usable(e, n) || removed[e.a] || removed[e.b]) continue;
    const NodeId ra = sets.root(e.a), rb = sets.root(e.b);
    const NodeId x = new_id[ra];
    const NodeId y = new_id[rb];
    if (x == y) continue;
    if ((!distinct || grown[ra] || grown[rb]) && !emitted.insert(x, y)) continue;
    out.edges.push_back({x, y});
  }
  return out;
}

std::vector<Chain> extract_chains(const Graph& graph) {
  const std::size_t n = graph.nodes.size();
  const Adjacency adj = build_adjacency(graph);
  std::vector<unsigned char> visited(graph.edges.size(), 0);
  std::vector<NodeId> path;
  std::vector<Chain> chains;

  // Walk from s along incidence k through degree-2 nodes. Each edge is consumed once, which
  // both partitions the edges among chains and stops a loop at its first edge.
  auto walk = [&](NodeId s, std::size_t k) {
    if (visited[adj.edge_id[k]]) return;
    visited[adj.edge_id[k]] = 1;
    path.clear();
    path.push_back(s);
    NodeId prev = s;
    NodeId cur = adj.neighbour[k];
    path.push_back(cur);
    while (adj.degree(cur) == 2) {
      std::size_t step = adj.begin(cur);
      if (adj.neighbour[step] == prev) ++step;
      if (adj.neighbour[step] == prev || visited[adj.edge_id[step]]) break;
      visited[adj.edge_id[step]] = 1;
      prev = cur;
      cur = adj.neighbour[step];
      path.push_back(cur);
    }
    Chain chain;
    chain.points.reserve(path.size());
    for (NodeId v : path) chain.points.push_back(graph.nodes[v]);
    chain.start = s;
    chain.end = cur;
    chain.start_is_tip = adj.degree(s) == 1;
    chain.end_is_tip = adj.degree(cur) == 1;
    chains.push_back(std::move(chain));
  };

  // Chains that end at tips or junctions first; what is left are loops of degree-2 nodes.
  for (NodeId v = 0; v < n; ++v) {
    const std::size_t d = adj.degree(v);
    if (d == 0 || d == 2) continue;
    for (std::size_t k = adj.begin(v); k < adj.end(v); ++k) walk(v, k);
  }
  for (NodeId v = 0; v < n; ++v) {
    for (std::size_t k = adj.begin(v); k < adj.end(v); ++k) walk(v, k);
  }
  return chains;
}

}  // namespace strandify
