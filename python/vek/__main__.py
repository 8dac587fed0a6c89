"""python3 -m vek convert SRC DST [--to vek|bmp] [--jobs N] [--scheduler ADDRESS]"""

import argparse
import os
import sys

from .batch import REPORT_NAME, convert_tree


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m vek", description="VEK picture tools")
    commands = parser.add_subparsers(dest="command", required=True)
    convert = commands.add_parser(
        "convert", help="convert a folder tree of pictures",
        description="Converts every .bmp file under SRC into a .vek file at the same place under DST "
                    "(--to bmp: every .vek file into a .bmp file). Outputs already there and complete are "
                    "skipped, so an interrupted run resumes. Exits with 1 when a file failed.")
    convert.add_argument("source", metavar="SRC")
    convert.add_argument("destination", metavar="DST")
    convert.add_argument("--to", choices=["vek", "bmp"], default="vek", help="the output format (default: vek)")
    convert.add_argument("--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                         help="local processes (default: one per processor)")
    convert.add_argument("--scheduler", metavar="ADDRESS",
                         help="a Dask distributed scheduler (tcp://host:port) whose workers share the file system")
    convert.add_argument("--report", metavar="FILE",
                         help=f"where failures are listed (default: DST/{REPORT_NAME})")
    args = parser.parse_args(argv)
    if args.jobs < 1:
        parser.error("--jobs must be at least 1")
    try:
        failed = convert_tree(args.source, args.destination, to=args.to, jobs=args.jobs,
                              scheduler=args.scheduler, report=args.report)
    except (OSError, TimeoutError) as error:
        print(f"vek convert: {error}", file=sys.stderr)
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
