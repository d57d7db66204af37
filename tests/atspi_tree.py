# Prints the accessible tree of the running application named in the argument as assistive
# technology sees it over AT-SPI, one node a line: indentation by depth, then
# role|name|description|relation:target,...
import sys

import pyatspi


def walk(node, depth, out):
    relations = []
    for relation in node.getRelationSet():
        for i in range(relation.getNTargets()):
            relations.append("%s:%s" % (relation.getRelationType().value_nick,
                                        relation.getTarget(i).name))
    out.append("%s%s|%s|%s|%s" % ("  " * depth, node.getRoleName(), node.name,
                                  node.description, ",".join(relations)))
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, out)


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    out = []
    for i in range(desktop.childCount):
        application = desktop.getChildAtIndex(i)
        if application is not None and application.name == sys.argv[1]:
            walk(application, 0, out)
    print("\n".join(out))


main()
