"""make_nest.py TOP DEPTH: a folder nested DEPTH levels below TOP, each
level named "d" (one letter keeps every path within the program's 2,048-byte
path buffers), with a small file every 100 levels and at the first and last."""
import os
import sys

path, depth = sys.argv[1], int(sys.argv[2])
os.makedirs(path)
for level in range(1, depth + 1):
    path = os.path.join(path, "d")
    os.mkdir(path)
    if level % 100 == 0 or level in (1, depth):
        with open(os.path.join(path, "f%d.txt" % level), "w") as out:
            out.write("level %d\n" % level)
print("  deepest file path: %d characters (Z: form)" % (len(path) + 2 + len("/f%d.txt" % depth)))
