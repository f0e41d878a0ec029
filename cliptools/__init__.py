"""The Python that the road, the tests and setup share, imported by its name (scripts/python puts the
tree's top on PYTHONPATH):

  wow64         which clipindex.exe a run runs under Wine, and the WoW64 folder (setup, the road, the tests)
  stops         what a stop does in a command that downloads (wow64, npm_packages)
  wine_session  the Wine session of a test run or of the road: display, prefix, server (the tests, the road)
  wine          clipindex.exe and the helper programs run in that session's prefix (the Wine tests, the road)
  node_version  whether the node found runs the pinned playwright-core (setup, the road)
  npm_packages  the pinned npm packages, fetched and checked as npm ci would (setup)
"""
