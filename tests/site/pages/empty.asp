<% Response.Write "ok" %>
