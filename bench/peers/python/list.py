# list: N records (value, next) linked, summed, released; 3 rounds.
import sys


class Node:
    __slots__ = ("value", "next")

    def __init__(self, value, next_node):
        self.value = value
        self.next = next_node


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
    total = 0
    for _ in range(3):
        head = None
        for i in range(1, n + 1):
            head = Node(i, head)
        p = head
        while p is not None:
            total = (total * 31 + p.value) % 1000003
            p = p.next
        # Release node by node, as the Pascal program disposes them.
        p = head
        head = None
        while p is not None:
            q = p.next
            p.next = None
            p = q
    print(total)


main()
