// The article list through late binding from JScript.
var list = new ActiveXObject("Quillnet.ArticleManager");
check("empty size", list.Size, 0);
check("empty first", list.FirstArticle, -1);
check("empty subject", list.ArticleSubject(0), "N/A");
list.Add(50, 1023, "beta");
list.Add(20, 1048576, "Beta");
list.Add(70, 1024, "alpha");
check("first", list.FirstArticle, 20);
check("last", list.LastArticle, 70);
check("sort result", list.Sort(2), 0);
check("capital first", list.ArticleSubject(0), "Beta");
check("then alpha", list.ArticleSubject(1), "alpha");
check("size text", list.ArticleSizeStr(0), "1m");
check("sort by size", list.Sort(1), 0);
check("smallest", list.ArticleSizeStr(0), "1023b");
check("id of smallest", list.ArticleID(0), 50);
check("bad position", list.ArticleSize(3), -1);
check("bad size text", list.ArticleSizeStr(-1), "N/A");
var unicode = "caf\u00e9";
list.Add(1, 1, unicode);
check("ansi round trip", list.ArticleSubject(3), unicode);
// Threads: AddArticle with the identity of each article, then Sort 3.
var thread = new ActiveXObject("Quillnet.ArticleManager");
thread.AddArticle(2, 10, "Re: top", "<2@x>", "<1@x>", "Mon, 01 Jan 2024 10:00:00 +0000");
thread.AddArticle(1, 10, "top", "<1@x>", "", "Mon, 01 Jan 2024 09:00:00 +0000");
thread.AddArticle(3, 10, "other", "<3@x>", "", "Mon, 01 Jan 2024 09:30:00 +0000");
check("thread sort result", thread.Sort(3), 0);
check("thread order", thread.ArticleID(0) + "," + thread.ArticleID(1) + "," + thread.ArticleID(2), "1,2,3");
check("reply depth", thread.ArticleDepth(1), 1);
check("depth out of range", thread.ArticleDepth(3), -1);
var threw = false;
try { list.NoSuchMember(); } catch (e) { threw = true; }
check("unknown member throws", threw, true);
if (failures === 0) WScript.Echo("ALL TESTS PASSED");
