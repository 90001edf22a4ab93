// An owning multi-way tree node: every node owns its children and deletes
// them with itself. Walks are iterative, so a tree may be nested as deeply
// as memory allows without growing the call stack.
#ifndef QOR_COMMON_MULTI_TREE_H
#define QOR_COMMON_MULTI_TREE_H

namespace qor {
namespace common {

template <class T>
class clMultiTree {
public:
    clMultiTree()
        : ownsChildren(true), parent(nullptr), nextSibling(nullptr),
          firstChild(nullptr), lastChild(nullptr), key() {}

    virtual ~clMultiTree() { removeChildren(); }

    clMultiTree(const clMultiTree&) = delete;
    clMultiTree& operator=(const clMultiTree&) = delete;

    /// First node in pre-order (depth-first document order: a node before
    /// its children, each subtree before the next sibling), starting with
    /// this one, whose key equals k; null when none does.
    clMultiTree* find(const T& k) {
        return const_cast<clMultiTree*>(static_cast<const clMultiTree*>(this)->find(k));
    }

    const clMultiTree* find(const T& k) const {
        for (const clMultiTree* cur = this; cur; cur = cur->getNextInPreorder(this)) {
            if (cur->key == k) return cur;
        }
        return nullptr;
    }

    /// The node after this one in a pre-order walk of scope's subtree (a
    /// node before its children, each subtree before the next sibling), or
    /// null when the walk is over. This node must lie in scope's subtree.
    clMultiTree* getNextInPreorder(const clMultiTree* scope) const {
        if (firstChild) return firstChild;
        // This node's subtree is done: climb to the nearest node below
        // scope that has a next sibling.
        const clMultiTree* cur = this;
        while (cur != scope && !cur->nextSibling) cur = cur->parent;
        return cur == scope ? nullptr : cur->nextSibling;
    }

    /// Appends an unlinked node, made with new, as the last child. While
    /// ownsChildren is true (the default) this node then owns it: it is
    /// deleted with this node or by removeChildren, never by the caller.
    void addChild(clMultiTree* child) {
        if (!firstChild) firstChild = child;
        if (lastChild) lastChild->nextSibling = child;
        lastChild = child;
        child->parent = this;
    }

    /// Moves every child of from, in order, to the end of this node's
    /// children; from is left without any. The nodes themselves stay where
    /// they are in memory, so pointers to them stay valid.
    void adoptChildren(clMultiTree& from) {
        if (&from == this) return;
        for (clMultiTree* child = from.firstChild; child; child = child->nextSibling) child->parent = this;
        if (!from.firstChild) return;
        if (lastChild) {
            lastChild->nextSibling = from.firstChild;
        } else {
            firstChild = from.firstChild;
        }
        lastChild = from.lastChild;
        from.firstChild = nullptr;
        from.lastChild = nullptr;
    }

    /// Detaches every child, front to back, deleting each while this node
    /// owns its children. Deletion is pre-order (a node before its
    /// descendants, each subtree before the next sibling) without recursion:
    /// an owned child's children are moved up into this list in its place
    /// before it is deleted, so every delete sees a leaf. Moved-up nodes keep
    /// their stale parent link only until they are taken, which clears it.
    void removeChildren() {
        while (firstChild) {
            clMultiTree* child = firstChild;
            if (ownsChildren && child->ownsChildren && child->firstChild) {
                child->lastChild->nextSibling = child->nextSibling;
                if (lastChild == child) lastChild = child->lastChild;
                firstChild = child->firstChild;
                child->firstChild = nullptr;
                child->lastChild = nullptr;
            } else {
                firstChild = child->nextSibling;
                if (lastChild == child) lastChild = nullptr;
            }
            child->parent = nullptr;
            child->nextSibling = nullptr;
            if (ownsChildren) delete child;
        }
    }

    clMultiTree* getParent() const { return parent; }
    clMultiTree* getNextSibling() const { return nextSibling; }
    clMultiTree* getFirstChild() const { return firstChild; }
    clMultiTree* getLastChild() const { return lastChild; }

    bool ownsChildren;
    clMultiTree* parent;
    clMultiTree* nextSibling;
    clMultiTree* firstChild;
    clMultiTree* lastChild;
    T key;
};

}  // namespace common
}  // namespace qor

#endif
